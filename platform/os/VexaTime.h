// A millisecond stopwatch on the monotonic clock.
#pragma once

#include <cstdint>

namespace VexaOS {

class CVexaTime {
 public:
  enum : int32_t { kRunning = 0, kStopped = 2 };

  // Stopped, reading 0.
  CVexaTime();
  virtual ~CVexaTime() = default;

  // When stopped: the stopped time no longer counts and the watch runs. Answers 0.
  int32_t Start();
  // When running: the watch stops and keeps its reading.
  void Stop();
  // (running ? now : stop time) - origin - stopped total + offset.
  uint64_t Elapsed() const;
  // Added to every reading.
  void SetOffset(uint64_t milliseconds) { m_offset = milliseconds; }
  int32_t State() const { return m_state; }

 private:
  int32_t m_state;
  uint64_t m_origin;
  uint64_t m_stopTime;
  uint64_t m_offset;
  uint64_t m_stoppedTotal;
};

}  // namespace VexaOS
