#include "platform/os/VexaMutex.h"
#include "platform/os/OsResult.h"

#include <windows.h>

#include <new>

#include "platform/os/win32/WindowsText.h"

namespace VexaOS {
namespace {

CRITICAL_SECTION* Section(void* lock) { return static_cast<CRITICAL_SECTION*>(lock); }

DWORD WaitMilliseconds(int32_t timeoutMs) {
  return timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
}

}  // namespace

uint64_t MonotonicMilliseconds() {
  // The performance counter rather than the tick count: the tick moves in steps of about 16 ms.
  static const uint64_t frequency = [] {
    LARGE_INTEGER value;
    ::QueryPerformanceFrequency(&value);
    return static_cast<uint64_t>(value.QuadPart);
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  const uint64_t counts = static_cast<uint64_t>(now.QuadPart);
  return counts / frequency * 1000 + counts % frequency * 1000 / frequency;
}

CVexaMutex::CVexaMutex(const char* name, int32_t defaultTimeoutMs) : m_defaultTimeout(defaultTimeoutMs) {
  if (name && *name) {
    m_named = true;
    std::wstring systemName;
    if (!Utf8ToWide(SharedSegment::SystemName("mutex", name), systemName) || systemName.empty()) return;
    COpenToEveryone security;
    m_lock = ::CreateMutexW(security.Get(), FALSE, systemName.c_str());
    return;
  }
  auto* section = new (std::nothrow) CRITICAL_SECTION;
  if (!section) return;
  ::InitializeCriticalSection(section);  // recursive, as a critical section always is
  m_lock = section;
}

CVexaMutex::~CVexaMutex() {
  if (m_lock && m_named) {
    ::CloseHandle(m_lock);
  } else if (m_lock) {
    ::DeleteCriticalSection(Section(m_lock));
    delete Section(m_lock);
  }
  m_lock = nullptr;
}

int32_t CVexaMutex::Lock(int32_t timeoutMs) {
  if (!m_lock) return kOsFailed;
  if (!m_named) {
    ::EnterCriticalSection(Section(m_lock));
    return kOsOk;
  }
  if (timeoutMs == kVexaNoTimeout) timeoutMs = Timeout();
  switch (::WaitForSingleObject(m_lock, WaitMilliseconds(timeoutMs))) {
    case WAIT_OBJECT_0:
      m_held.fetch_add(1);
      return kOsOk;
    case WAIT_ABANDONED:
      // The wait made this thread the owner; this caller is told, the next one gets it.
      ::ReleaseMutex(m_lock);
      return kOsFailed;
    default:
      return kOsFailed;
  }
}

int32_t CVexaMutex::Unlock() {
  if (!m_lock) return kOsFailed;
  if (!m_named) {
    ::LeaveCriticalSection(Section(m_lock));
    return kOsOk;
  }
  if (!::ReleaseMutex(m_lock)) return kOsFailed;  // not held by this thread
  m_held.fetch_sub(1);
  return kOsOk;
}

}  // namespace VexaOS
