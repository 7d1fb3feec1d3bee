#include "platform/os/VexaEvent.h"
#include "platform/os/OsResult.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <new>

namespace VexaOS {
namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));

uint32_t* Word(CVexaEvent::State* state) { return reinterpret_cast<uint32_t*>(&state->signalled); }

// Sleeps while the word is 0, until woken or the absolute monotonic deadline passes.
// Answers false on time-out.
bool FutexWait(CVexaEvent::State* state, bool shared, const timespec* deadline) {
  const int operation = FUTEX_WAIT_BITSET | (shared ? 0 : FUTEX_PRIVATE_FLAG);
  long result = syscall(SYS_futex, Word(state), operation, 0u, deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
  return !(result == -1 && errno == ETIMEDOUT);
}

void FutexWakeAll(CVexaEvent::State* state, bool shared) {
  const int operation = FUTEX_WAKE | (shared ? 0 : FUTEX_PRIVATE_FLAG);
  syscall(SYS_futex, Word(state), operation, INT_MAX, nullptr, nullptr, 0);
}

bool InitialiseShared(void* payload, void* argument) {
  auto* state = new (payload) CVexaEvent::State;
  state->signalled.store(0);
  state->manualReset = *static_cast<bool*>(argument) ? 1 : 0;
  return true;
}

}  // namespace

CVexaEvent::CVexaEvent(const char* name, bool manualReset, uint32_t defaultTimeoutMs)
    : m_defaultTimeout(defaultTimeoutMs) {
  if (name && *name) {
    m_named = true;
    if (m_segment.Open("event", name, sizeof(State), InitialiseShared, &manualReset))
      m_state = static_cast<State*>(m_segment.payload());
    return;
  }
  m_state = new (std::nothrow) State;
  if (m_state) {
    m_state->signalled.store(0);
    m_state->manualReset = manualReset ? 1 : 0;
  }
}

CVexaEvent::~CVexaEvent() {
  if (!m_named) delete m_state;
  m_state = nullptr;
  m_segment.Close();
}

bool CVexaEvent::IsManualReset() const { return m_state && m_state->manualReset != 0; }

int32_t CVexaEvent::Wait(uint32_t timeoutMs) {
  if (!m_state) return kOsFailed;
  if (timeoutMs == kVexaInfinite) timeoutMs = m_defaultTimeout;
  timespec deadline{};
  if (timeoutMs != kVexaInfinite) {
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const uint64_t nanoseconds = static_cast<uint64_t>(deadline.tv_nsec) + (timeoutMs % 1000) * 1000000ull;
    deadline.tv_sec += timeoutMs / 1000 + static_cast<time_t>(nanoseconds / 1000000000);
    deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
  }
  const bool manual = m_state->manualReset != 0;
  for (;;) {
    if (manual) {
      if (m_state->signalled.load(std::memory_order_acquire) != 0) return kOsOk;
    } else {
      uint32_t expected = 1;
      if (m_state->signalled.compare_exchange_strong(expected, 0, std::memory_order_acq_rel)) return kOsOk;
    }
    if (timeoutMs == 0) return kOsTimedOut;
    if (!FutexWait(m_state, m_named, timeoutMs == kVexaInfinite ? nullptr : &deadline)) {
      // Timed out; a signal that arrived at the last moment still counts.
      if (manual) return m_state->signalled.load(std::memory_order_acquire) != 0 ? kOsOk : kOsTimedOut;
      uint32_t expected = 1;
      return m_state->signalled.compare_exchange_strong(expected, 0, std::memory_order_acq_rel) ? kOsOk : kOsTimedOut;
    }
  }
}

void CVexaEvent::Set() {
  if (!m_state) return;
  m_state->signalled.store(1, std::memory_order_release);
  // Every waiter wakes and checks; with automatic reset one of them takes the signal. Waking
  // them all means a waiter that died never swallows a wake-up.
  FutexWakeAll(m_state, m_named);
}

void CVexaEvent::Reset() {
  if (!m_state) return;
  m_state->signalled.store(0, std::memory_order_release);
}

}  // namespace VexaOS
