// Owners of the streaming stack's mutex and event handles.
#pragma once

#include "interfaces/sv_net_tools.h"

// A mutex whose creation may fail: then it is not valid, and locking it does nothing and says
// so, rather than handing a null handle to the stack.
class CNetMutex {
 public:
  CNetMutex() = default;
  ~CNetMutex() { Destroy(); }
  CNetMutex(const CNetMutex&) = delete;
  CNetMutex& operator=(const CNetMutex&) = delete;

  bool Create() {
    if (!m_handle) {
      NetHandle handle = nullptr;
      if (NetMutexCreate(&handle, 0) == 0) m_handle = handle;
    }
    return m_handle != nullptr;
  }
  void Destroy() {
    if (m_handle) NetMutexDestroy(m_handle);
    m_handle = nullptr;
  }
  bool IsValid() const { return m_handle != nullptr; }
  bool Lock() {
    if (!m_handle) return false;
    NetMutexLock(m_handle);
    return true;
  }
  void Unlock() {
    if (m_handle) NetMutexUnlock(m_handle);
  }

 private:
  NetHandle m_handle = nullptr;
};

// Holds a CNetMutex for a scope; Unlock ends the hold early. Holds nothing when the mutex is
// not valid: Held tells.
class CNetLock {
 public:
  explicit CNetLock(CNetMutex& mutex) : m_mutex(mutex.Lock() ? &mutex : nullptr) {}
  ~CNetLock() { Unlock(); }
  CNetLock(const CNetLock&) = delete;
  CNetLock& operator=(const CNetLock&) = delete;

  bool Held() const { return m_mutex != nullptr; }
  void Unlock() {
    if (m_mutex) m_mutex->Unlock();
    m_mutex = nullptr;
  }

 private:
  CNetMutex* m_mutex;
};

// An event of the stack, destroyed with its owner.
class CNetEvent {
 public:
  CNetEvent() = default;
  ~CNetEvent() { Destroy(); }
  CNetEvent(const CNetEvent&) = delete;
  CNetEvent& operator=(const CNetEvent&) = delete;

  bool Create(bool manualReset) {
    if (!m_handle) {
      NetHandle handle = nullptr;
      if (NetEventCreate(&handle, manualReset ? 1 : 0, 0, 0) == 0) m_handle = handle;
    }
    return m_handle != nullptr;
  }
  void Destroy() {
    if (m_handle) NetEventDestroy(m_handle);
    m_handle = nullptr;
  }
  NetHandle Handle() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }

 private:
  NetHandle m_handle = nullptr;
};
