#include "platform/urifile/UriFileObjectRate.h"

namespace VexaUri {

void UriFileObjectRate::Start(uint64_t nowMs) {
  m_count = 0;
  m_next = 0;
  m_startMs = nowMs;
  m_totalBytes = 0;
}

void UriFileObjectRate::AddSample(uint64_t nowMs, uint64_t totalBytes) {
  m_ring[m_next] = Sample{nowMs, totalBytes};
  m_next = (m_next + 1) % kSamples;
  if (m_count < kSamples) ++m_count;
  m_totalBytes = totalBytes;
}

uint64_t UriFileObjectRate::BitsPerSecond(uint64_t nowMs) const {
  if (nowMs <= m_startMs) return 0;
  const uint64_t average = m_totalBytes * 8000 / (nowMs - m_startMs);
  uint64_t recent = 0;
  if (m_count >= 2) {
    const Sample& newest = m_ring[(m_next + kSamples - 1) % kSamples];
    const Sample& oldest = m_ring[m_count < kSamples ? 0 : m_next];
    if (newest.ms > oldest.ms) recent = (newest.bytes - oldest.bytes) * 8000 / (newest.ms - oldest.ms);
  }
  return recent != 0 ? (2 * recent + average) / 3 : average;
}

}  // namespace VexaUri
