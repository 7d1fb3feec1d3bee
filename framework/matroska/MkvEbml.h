#pragma once
// EBML variable-size numbers and element headers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/matroska/MkvFileCache.h"

namespace mkv {

// Length in bytes of the number whose first byte is `first`: 1 for 0x80..0xFF down to 8
// for 0x01. A first byte of 0 gives 9, which is no valid number.
constexpr uint32_t EbmlLength(uint8_t first) {
  uint32_t n = 1;
  for (uint8_t mask = 0x80; mask != 0 && (first & mask) == 0; mask >>= 1) ++n;
  return n;
}

enum class EbmlReading { kId, kUnsigned };

struct EbmlNumber {
  uint64_t value = 0;
  uint32_t length = 0;
  bool allOnes = false;  // as a size: "unknown", the element runs to its parent's end
};

// Decodes one number from `p` (at most `avail` bytes). VMF_SHORT_READ when the bytes run
// out, VMF_ERR_FILE_CORRUPT for a first byte of 0.
int32_t ParseEbmlNumber(const uint8_t* p, size_t avail, EbmlReading reading, EbmlNumber* out);
// Signed reading (EBML lace differences): the unsigned value minus 2^(7n-1) - 1.
int32_t ParseEbmlSigned(const uint8_t* p, size_t avail, int64_t* value, uint32_t* length);

struct ElementHeader {
  uint32_t id = 0;
  uint64_t start = 0;  // offset of the ID
  uint64_t data = 0;   // offset of the payload
  uint64_t size = 0;   // payload size; for an unknown size, up to the parent's end
  bool unknownSize = false;
  bool clipped = false;  // the stored size passed the parent's end
  uint64_t End() const { return data + size; }
};

// Reads the element header at `pos` inside a parent that ends at `parentEnd`. An unknown
// size runs to the parent's end. A size that passes the parent is refused with
// VMF_ERR_FILE_CORRUPT, or, with `clip` (segments and clusters of a cut-off file), shortened.
int32_t ReadElementHeader(MkvFileCache& file, uint64_t pos, uint64_t parentEnd,
                          ElementHeader* out, bool clip = false);

// Value readers over an element's payload; each bounds-checks the size first.
int32_t ReadUnsigned(MkvFileCache& file, const ElementHeader& e, uint64_t* value);
int32_t ReadSigned(MkvFileCache& file, const ElementHeader& e, int64_t* value);
int32_t ReadFloat(MkvFileCache& file, const ElementHeader& e, double* value);
int32_t ReadString(MkvFileCache& file, const ElementHeader& e, std::string* value);
int32_t ReadBinary(MkvFileCache& file, const ElementHeader& e, std::vector<uint8_t>* value);

}  // namespace mkv
