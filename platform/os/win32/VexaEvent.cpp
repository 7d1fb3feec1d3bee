#include "platform/os/VexaEvent.h"
#include "platform/os/OsResult.h"

#include <windows.h>

#include <new>

#include "platform/os/win32/WindowsText.h"

namespace VexaOS {
namespace {

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
    std::wstring systemName;
    if (!Utf8ToWide(SharedSegment::SystemName("event", name), systemName) || systemName.empty() ||
        !m_segment.Open("event-kind", name, sizeof(State), InitialiseShared, &manualReset))
      return;
    m_state = static_cast<State*>(m_segment.payload());
    COpenToEveryone security;
    // Whoever made the segment decided the kind, so every opening asks for the same one.
    m_event = ::CreateEventW(security.Get(), m_state->manualReset != 0, FALSE, systemName.c_str());
    return;
  }
  m_state = new (std::nothrow) State;
  if (!m_state) return;
  m_state->signalled.store(0);
  m_state->manualReset = manualReset ? 1 : 0;
  m_event = ::CreateEventW(nullptr, manualReset, FALSE, nullptr);
}

CVexaEvent::~CVexaEvent() {
  if (m_event) ::CloseHandle(m_event);
  m_event = nullptr;
  if (!m_named) delete m_state;
  m_state = nullptr;
  m_segment.Close();
}

bool CVexaEvent::IsManualReset() const { return m_event && m_state && m_state->manualReset != 0; }

int32_t CVexaEvent::Wait(uint32_t timeoutMs) {
  if (!m_event) return kOsFailed;
  if (timeoutMs == kVexaInfinite) timeoutMs = m_defaultTimeout;
  // A failed wait (not a time-out) counts as signalled, so that no caller waits forever on it.
  return ::WaitForSingleObject(m_event, timeoutMs) == WAIT_TIMEOUT ? kOsTimedOut : kOsOk;
}

void CVexaEvent::Set() {
  if (m_event) ::SetEvent(m_event);
}

void CVexaEvent::Reset() {
  if (m_event) ::ResetEvent(m_event);
}

}  // namespace VexaOS
