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

CVexaMutex::CVexaMutex(const char* name, int32_t defaultTimeoutMs) : defaultTimeout_(defaultTimeoutMs) {
  if (name && *name) {
    named_ = true;
    if (segment_.Open("mutex", name, sizeof(pthread_mutex_t), InitialiseSharedMutex, nullptr))
      lock_ = static_cast<pthread_mutex_t*>(segment_.payload());
    return;
  }
  auto* lock = new (std::nothrow) pthread_mutex_t;
  if (!lock) return;
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  if (pthread_mutex_init(lock, &attributes) == 0)
    lock_ = lock;
  else
    delete lock;
  pthread_mutexattr_destroy(&attributes);
}

CVexaMutex::~CVexaMutex() {
  if (!named_ && lock_) {
    pthread_mutex_destroy(lock_);
    delete lock_;
  }
  lock_ = nullptr;
  segment_.Close(held_.load() > 0);
}

int32_t CVexaMutex::Lock(int32_t timeoutMs) {
  if (!named_) {
    if (!lock_) return kOsFailed;
    pthread_mutex_lock(lock_);
    return kOsOk;
  }
  if (!lock_) return kOsFailed;
  if (timeoutMs == -1) timeoutMs = defaultTimeout_;
  int result;
  if (timeoutMs < 0) {
    result = pthread_mutex_lock(lock_);
  } else if (timeoutMs == 0) {
    result = pthread_mutex_trylock(lock_);
  } else {
    const timespec deadline = DeadlineAfter(timeoutMs);
    result = pthread_mutex_clocklock(lock_, CLOCK_MONOTONIC, &deadline);
  }
  if (result == 0) {
    held_.fetch_add(1);
    return kOsOk;
  }
  if (result == EOWNERDEAD) {
    // Abandoned: repair it and leave it free; this caller is told, the next one gets it.
    pthread_mutex_consistent(lock_);
    pthread_mutex_unlock(lock_);
  }
  return kOsFailed;
}

int32_t CVexaMutex::Unlock() {
  if (!lock_) return kOsFailed;
  if (!named_) {
    pthread_mutex_unlock(lock_);
    return kOsOk;
  }
  if (pthread_mutex_unlock(lock_) != 0) return kOsFailed;
  held_.fetch_sub(1);
  return kOsOk;
}

CAutoMutex::CAutoMutex(CVexaMutex* mutex) : mutex_(mutex) {
  if (mutex_) {
    mutex_->SetTimeout(kVexaNoTimeout);
    mutex_->Lock(kVexaNoTimeout);
  }
}

CAutoMutex::~CAutoMutex() { Release(); }

void CAutoMutex::Release() {
  if (!released_ && mutex_) mutex_->Unlock();
  released_ = true;
  mutex_ = nullptr;
}

}  // namespace VexaOS
