// Owners of the streaming stack's mutex and event handles.
#pragma once

#include "interfaces/sv_net_tools.h"

class CNetMutex {
 public:
  CNetMutex() = default;
  ~CNetMutex() { Destroy(); }
  CNetMutex(const CNetMutex&) = delete;
  CNetMutex& operator=(const CNetMutex&) = delete;

  bool Create() {
    if (!m_handle) NetMutexCreate(&m_handle, 0);
    return m_handle != nullptr;
  }
  void Destroy() {
    if (m_handle) NetMutexDestroy(m_handle);
    m_handle = nullptr;
  }
  bool IsValid() const { return m_handle != nullptr; }
  void Lock() { NetMutexLock(m_handle); }
  void Unlock() { NetMutexUnlock(m_handle); }

 private:
  NetHandle m_handle = nullptr;
};

// Holds a CNetMutex for a scope; Unlock ends the hold early.
class CNetLock {
 public:
  explicit CNetLock(CNetMutex& mutex) : m_mutex(&mutex) { m_mutex->Lock(); }
  ~CNetLock() { Unlock(); }
  CNetLock(const CNetLock&) = delete;
  CNetLock& operator=(const CNetLock&) = delete;

  void Unlock() {
    if (m_mutex) m_mutex->Unlock();
    m_mutex = nullptr;
  }

 private:
  CNetMutex* m_mutex;
};
