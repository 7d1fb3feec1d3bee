// Events, manual or automatic reset, starting unsignalled. An unnamed event is process-local;
// a named one is shared by every process that opens the same name (a word in shared memory
// waited on with futexes, see SharedSegment.h). The creator of a named event decides whether it
// resets manually; later openings share its kind. On Windows the event is a kernel event
// ("Local\vexa.event.<name>" when named) and a named one's kind is kept in a shared segment
// beside it, where later openings read it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/os/OsResult.h"
#include "platform/os/SharedSegment.h"

namespace VexaOS {

constexpr uint32_t kVexaInfinite = 0xFFFFFFFF;

class CVexaEvent {
 public:
  // A null or empty name makes an unnamed event. defaultTimeoutMs: kVexaInfinite means none.
  explicit CVexaEvent(const char* name = nullptr, bool manualReset = false,
                      uint32_t defaultTimeoutMs = kVexaInfinite);
  virtual ~CVexaEvent();
  CVexaEvent(const CVexaEvent&) = delete;
  CVexaEvent& operator=(const CVexaEvent&) = delete;

  // Waits until the event is signalled; an automatic-reset event is reset by the wait that
  // takes it. kVexaInfinite means the default time-out (which may itself be infinite). Answers
  // -1 when there is no event or the wait timed out, else 0.
  int32_t Wait(uint32_t timeoutMs = kVexaInfinite);
  void Set();
  void Reset();
  void SetTimeout(uint32_t timeoutMs) { m_defaultTimeout = timeoutMs; }
  bool IsNamed() const { return m_named; }
  bool IsManualReset() const;

  struct State {
    std::atomic<uint32_t> signalled;  // the futex word: 0 or 1
    uint32_t manualReset;
  };

 private:
  State* m_state = nullptr;  // heap (unnamed) or shared segment (named)
#ifdef _WIN32
  void* m_event = nullptr;  // the event HANDLE; m_state only gives its kind
#endif
  bool m_named = false;
  uint32_t m_defaultTimeout;
  SharedSegment m_segment;
};

}  // namespace VexaOS
