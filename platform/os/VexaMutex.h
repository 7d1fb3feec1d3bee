// Locks. An unnamed CVexaMutex is a process-local recursive lock; a named one is shared by
// every process that opens the same name (a robust, process-shared, recursive lock in shared
// memory, see SharedSegment.h). A named lock whose owner died (thread or process) answers -1 to
// the Lock that finds it so; that Lock repairs the lock and leaves it free, so the next Lock
// succeeds. Destroying a named mutex that a thread still holds through it keeps its shared
// memory mapped, so that the lock is found abandoned once that thread or process ends.
// On Windows an unnamed lock is a critical section and a named one a kernel mutex called
// "Local\vexa.mutex.<name>" (see SharedSegment::SystemName); the kernel marks it abandoned.
#pragma once

#ifndef _WIN32
#include <pthread.h>
#endif

#include <atomic>
#include <cstdint>

#include "platform/os/OsResult.h"
#include "platform/os/SharedSegment.h"

namespace VexaOS {

constexpr int32_t kVexaNoTimeout = -1;

class CVexaMutex {
 public:
  // A null or empty name makes an unnamed lock. defaultTimeoutMs: -1 means none.
  explicit CVexaMutex(const char* name = nullptr, int32_t defaultTimeoutMs = kVexaNoTimeout);
  virtual ~CVexaMutex();
  CVexaMutex(const CVexaMutex&) = delete;
  CVexaMutex& operator=(const CVexaMutex&) = delete;

  // Unnamed: waits as long as it takes, answers 0. Named: -1 means the default time-out; answers
  // 0 when locked, -1 when the wait timed out, the owner died, or the lock could not be made.
  int32_t Lock(int32_t timeoutMs = kVexaNoTimeout);
  // Unnamed: 0. Named: -1 when there is no lock (it could not be made) or this thread does not
  // hold it, else 0.
  int32_t Unlock();
  // Atomic: CAutoMutex sets it before taking the lock, so threads that guard one lock write
  // it at the same time.
  void SetTimeout(int32_t timeoutMs) { m_defaultTimeout.store(timeoutMs, std::memory_order_relaxed); }
  int32_t Timeout() const { return m_defaultTimeout.load(std::memory_order_relaxed); }
  bool IsNamed() const { return m_named; }

 private:
#ifdef _WIN32
  void* m_lock = nullptr;  // a heap CRITICAL_SECTION (unnamed) or a mutex HANDLE (named)
#else
  pthread_mutex_t* m_lock = nullptr;  // heap (unnamed) or shared segment (named)
#endif
  bool m_named = false;
  std::atomic<int32_t> m_held{0};     // named: Locks through this object not yet unlocked
  std::atomic<int32_t> m_defaultTimeout;
  SharedSegment m_segment;
};

// Locks a mutex for its lifetime: sets its default time-out to none and locks it; destruction
// unlocks it unless Release was called. A null mutex makes both do nothing.
class CAutoMutex {
 public:
  explicit CAutoMutex(CVexaMutex* mutex);
  virtual ~CAutoMutex();
  CAutoMutex(const CAutoMutex&) = delete;
  CAutoMutex& operator=(const CAutoMutex&) = delete;
  // Unlocks now; destruction then does nothing.
  void Release();

 private:
  CVexaMutex* m_mutex;
  bool m_released = false;
};

// Milliseconds of a monotonic clock (CLOCK_MONOTONIC, on Windows the performance counter);
// shared by the primitives.
uint64_t MonotonicMilliseconds();

}  // namespace VexaOS
