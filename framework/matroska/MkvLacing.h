#pragma once
// Frame sizes of a laced block.
#include <array>
#include <cstddef>
#include <cstdint>

namespace mkv {

// Lacing kinds: the block flags AND 6.
enum class Lacing : uint8_t { kNone = 0, kXiph = 2, kFixed = 4, kEbml = 6 };

struct LaceLayout {
  uint32_t count = 0;
  size_t headerLength = 0;  // bytes of lace sizes before the first frame
  std::array<uint32_t, 256> sizes{};
};

// Splits the block payload after the flags byte (`p`, `n` bytes). Sizes that do not add
// up to the payload, negative EBML sizes or a fixed lacing that does not divide evenly
// give VMF_ERR_FILE_CORRUPT.
int32_t ParseLacing(Lacing lacing, const uint8_t* p, size_t n, LaceLayout* out);

}  // namespace mkv
