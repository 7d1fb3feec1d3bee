#include "platform/urifile/PartialFileRanges.h"

#include <algorithm>

namespace VexaUri {

void PartialFileRanges::Add(uint64_t start, uint64_t end) {
  if (start >= end) return;
  // The first range that ends at or after `start` is the first one the new range can meet.
  auto first = std::lower_bound(m_ranges.begin(), m_ranges.end(), start,
                                [](const ByteRange& range, uint64_t value) { return range.end < value; });
  auto last = first;
  while (last != m_ranges.end() && last->start <= end) {
    start = std::min(start, last->start);
    end = std::max(end, last->end);
    ++last;
  }
  first = m_ranges.erase(first, last);
  m_ranges.insert(first, ByteRange{start, end});
}

uint64_t PartialFileRanges::PresentFrom(uint64_t offset) const {
  auto it = std::upper_bound(m_ranges.begin(), m_ranges.end(), offset,
                             [](uint64_t value, const ByteRange& range) { return value < range.start; });
  if (it == m_ranges.begin()) return 0;
  --it;
  return offset < it->end ? it->end - offset : 0;
}

uint64_t PartialFileRanges::NextPresentAfter(uint64_t offset) const {
  auto it = std::upper_bound(m_ranges.begin(), m_ranges.end(), offset,
                             [](uint64_t value, const ByteRange& range) { return value < range.start; });
  return it == m_ranges.end() ? UINT64_MAX : it->start;
}

uint64_t PartialFileRanges::TotalBytes() const {
  uint64_t total = 0;
  for (const ByteRange& range : m_ranges) total += range.end - range.start;
  return total;
}

bool PartialFileRanges::Assign(const std::vector<ByteRange>& ranges) {
  for (size_t i = 0; i < ranges.size(); ++i) {
    if (ranges[i].start >= ranges[i].end) return false;
    if (i > 0 && ranges[i].start <= ranges[i - 1].end) return false;
  }
  m_ranges = ranges;
  return true;
}

}  // namespace VexaUri
