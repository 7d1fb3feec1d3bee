#include "framework/matroska/MkvByteSource.h"

#include <algorithm>
#include <cstring>

namespace mkv {

int32_t MkvMemorySource::ReadAt(uint64_t offset, uint8_t* dst, uint32_t count, uint32_t* got) {
  *got = 0;
  if (offset >= m_bytes.size()) return 0;
  const uint64_t n = std::min<uint64_t>(count, m_bytes.size() - offset);
  std::memcpy(dst, m_bytes.data() + offset, n);
  *got = static_cast<uint32_t>(n);
  return 0;
}

}  // namespace mkv
