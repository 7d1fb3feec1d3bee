// The byte ranges of a partial copy that are present, as a sorted list of half-open ranges
// [start, end) that neither overlap nor touch: adding a range merges it with every range it
// overlaps or meets, so the list stays the shortest description of the bytes present.
#pragma once

#include <cstdint>
#include <vector>

namespace VexaUri {

struct ByteRange {
  uint64_t start;
  uint64_t end;  // one past the last byte
  bool operator==(const ByteRange&) const = default;
};

class PartialFileRanges {
 public:
  // Adds [start, end); an empty range changes nothing.
  void Add(uint64_t start, uint64_t end);
  void Clear() { m_ranges.clear(); }
  // How many bytes are present from `offset` on without a gap (0 when `offset` is missing).
  uint64_t PresentFrom(uint64_t offset) const;
  // The first missing byte at or after `offset`.
  uint64_t FirstMissingFrom(uint64_t offset) const { return offset + PresentFrom(offset); }
  // Where the next present byte after `offset` begins, or UINT64_MAX when none follows.
  uint64_t NextPresentAfter(uint64_t offset) const;
  // Whether every byte of [0, size) is present.
  bool Covers(uint64_t size) const { return PresentFrom(0) >= size; }
  uint64_t TotalBytes() const;
  const std::vector<ByteRange>& Ranges() const { return m_ranges; }
  // Takes a list that is already sorted, non-empty per range, and neither overlapping nor
  // touching; false (and nothing changed) otherwise.
  bool Assign(const std::vector<ByteRange>& ranges);

 private:
  std::vector<ByteRange> m_ranges;
};

}  // namespace VexaUri
