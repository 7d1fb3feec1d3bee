// The transfer-rate estimate of a download: a ring of the last 500 samples of (milliseconds,
// bytes received so far), plus the start of the download.
//
//   recent  = (bytes between the oldest and the newest sample x 8000) / (ms between them)
//   average = (bytes since the start x 8000) / (ms since the start)
//   rate    = (2 x recent + average) / 3 when recent is non-zero, else average;
//             0 before any time has passed.
#pragma once

#include <array>
#include <cstdint>

namespace VexaUri {

class UriFileObjectRate {
 public:
  static constexpr uint32_t kSamples = 500;

  // Starts over at `nowMs` with no bytes received.
  void Start(uint64_t nowMs);
  // Records the total bytes received by `nowMs`.
  void AddSample(uint64_t nowMs, uint64_t totalBytes);
  // Bits per second as of `nowMs`.
  uint64_t BitsPerSecond(uint64_t nowMs) const;

 private:
  struct Sample {
    uint64_t ms;
    uint64_t bytes;
  };
  std::array<Sample, kSamples> m_ring{};
  uint32_t m_count = 0;  // samples held, at most kSamples
  uint32_t m_next = 0;   // where the next sample goes
  uint64_t m_startMs = 0;
  uint64_t m_totalBytes = 0;
};

}  // namespace VexaUri
