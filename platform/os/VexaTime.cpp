#include "platform/os/VexaTime.h"

#include "platform/os/VexaMutex.h"

namespace VexaOS {

CVexaTime::CVexaTime()
    : m_state(kStopped), m_origin(MonotonicMilliseconds()), m_stopTime(m_origin), m_offset(0), m_stoppedTotal(0) {}

int32_t CVexaTime::Start() {
  if (m_state == kStopped) {
    m_stoppedTotal += MonotonicMilliseconds() - m_stopTime;
    m_stopTime = m_origin;
    m_state = kRunning;
  }
  return 0;
}

void CVexaTime::Stop() {
  if (m_state == kRunning) {
    m_stopTime = MonotonicMilliseconds();
    m_state = kStopped;
  }
}

uint64_t CVexaTime::Elapsed() const {
  const uint64_t now = m_state == kRunning ? MonotonicMilliseconds() : m_stopTime;
  return now - m_origin - m_stoppedTotal + m_offset;
}

}  // namespace VexaOS
