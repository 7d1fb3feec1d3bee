#include "platform/os/VexaMutex.h"
#include "platform/os/OsResult.h"

#include <cerrno>
#include <ctime>
#include <new>

namespace VexaOS {
namespace {

bool InitialiseSharedMutex(void* payload, void*) {
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
            pthread_mutex_init(static_cast<pthread_mutex_t*>(payload), &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  return ok;
}

timespec DeadlineAfter(int32_t milliseconds) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  int64_t nanoseconds = now.tv_nsec + static_cast<int64_t>(milliseconds % 1000) * 1000000;
  now.tv_sec += milliseconds / 1000 + nanoseconds / 1000000000;
  now.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
  return now;
}

}  // namespace

uint64_t MonotonicMilliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

CVexaMutex::CVexaMutex(const char* name, int32_t defaultTimeoutMs) : m_defaultTimeout(defaultTimeoutMs) {
  if (name && *name) {
    m_named = true;
    if (m_segment.Open("mutex", name, sizeof(pthread_mutex_t), InitialiseSharedMutex, nullptr))
      m_lock = static_cast<pthread_mutex_t*>(m_segment.payload());
    return;
  }
  auto* lock = new (std::nothrow) pthread_mutex_t;
  if (!lock) return;
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  if (pthread_mutex_init(lock, &attributes) == 0)
    m_lock = lock;
  else
    delete lock;
  pthread_mutexattr_destroy(&attributes);
}

CVexaMutex::~CVexaMutex() {
  if (!m_named && m_lock) {
    pthread_mutex_destroy(m_lock);
    delete m_lock;
  }
  m_lock = nullptr;
  m_segment.Close(m_held.load() > 0);
}

int32_t CVexaMutex::Lock(int32_t timeoutMs) {
  if (!m_named) {
    if (!m_lock) return kOsFailed;
    pthread_mutex_lock(m_lock);
    return kOsOk;
  }
  if (!m_lock) return kOsFailed;
  if (timeoutMs == kVexaNoTimeout) timeoutMs = Timeout();
  int result;
  if (timeoutMs < 0) {
    result = pthread_mutex_lock(m_lock);
  } else if (timeoutMs == 0) {
    result = pthread_mutex_trylock(m_lock);
  } else {
    const timespec deadline = DeadlineAfter(timeoutMs);
    result = pthread_mutex_clocklock(m_lock, CLOCK_MONOTONIC, &deadline);
  }
  if (result == 0) {
    m_held.fetch_add(1);
    return kOsOk;
  }
  if (result == EOWNERDEAD) {
    // Abandoned: repair it and leave it free; this caller is told, the next one gets it.
    pthread_mutex_consistent(m_lock);
    pthread_mutex_unlock(m_lock);
  }
  return kOsFailed;
}

int32_t CVexaMutex::Unlock() {
  if (!m_lock) return kOsFailed;
  if (!m_named) {
    pthread_mutex_unlock(m_lock);
    return kOsOk;
  }
  if (pthread_mutex_unlock(m_lock) != 0) return kOsFailed;
  m_held.fetch_sub(1);
  return kOsOk;
}

}  // namespace VexaOS
