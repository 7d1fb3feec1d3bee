// A worker thread whose procedure polls a stop flag.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/os/VexaEvent.h"

namespace VexaOS {

// The procedure gets the stop flag to poll (non-zero: return soon), its argument and the
// thread's user value.
typedef uint32_t (*VexaThreadProc)(std::atomic<uint8_t>* stop, void* argument, uint32_t userValue);

// Priority indexes: lowest, below normal, normal, highest, time critical.
enum : uint32_t {
  kThreadPriorityLowest = 0,
  kThreadPriorityBelowNormal = 1,
  kThreadPriorityNormal = 2,
  kThreadPriorityHighest = 3,
  kThreadPriorityTimeCritical = 4,
};

// Gives the calling thread the priority at the index (nice values 10, 5, 0, -5, -10; on Windows
// the thread priorities named by the indexes). Silently keeps the priority when the system
// refuses the change.
void SetCurrentThreadPriority(uint32_t index);

class CVexaThread {
 public:
  CVexaThread();
  virtual ~CVexaThread();  // a waiting Stop
  CVexaThread(const CVexaThread&) = delete;
  CVexaThread& operator=(const CVexaThread&) = delete;

  // Stores the procedure and its argument; with a procedure, resets the done event, clears the
  // stop flag and starts the thread at the priority index. A thread still held from an earlier
  // Start is stopped (waiting) first. Answers 0, or -1 when there is no procedure or the thread
  // could not be made.
  int32_t Start(VexaThreadProc procedure, void* argument);
  // Sets the stop flag; unless noWait, waits for the thread to finish and lets it go.
  void Stop(bool noWait = false);
  // Waits for the done event (signalled while no thread runs); answers CVexaEvent::Wait's result.
  int32_t WaitDone(uint32_t timeoutMs = kVexaInfinite) { return m_done.Wait(timeoutMs); }
  bool IsRunning() const { return m_thread.joinable(); }

  void SetUserValue(uint32_t value) { m_userValue = value; }
  uint32_t UserValue() const { return m_userValue; }
  // Index into {lowest, below normal, normal, highest, time critical}; used by the next Start.
  // Out-of-range indexes are ignored. Raising the priority needs the privilege to do so; without
  // it the thread runs at normal priority.
  void SetPriority(uint32_t index) {
    if (index <= kThreadPriorityTimeCritical) m_priority = index;
  }
  uint32_t Priority() const { return m_priority; }

 private:
  static void Run(CVexaThread* self, VexaThreadProc procedure, void* argument, uint32_t userValue,
                  uint32_t priority);

  uint32_t m_userValue = 0;
  VexaThreadProc m_procedure = nullptr;
  void* m_argument = nullptr;
  std::thread m_thread;
  std::atomic<uint8_t> m_stop{0};
  CVexaEvent m_done{nullptr, true};
  uint32_t m_priority = kThreadPriorityNormal;
};

}  // namespace VexaOS
