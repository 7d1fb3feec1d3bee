// The run-length code of subtitle packets: each display row cut into runs of one 2-bit colour,
// every run a code of one to four nibbles; the even rows form the first field, the odd rows the
// second, each row ending on a whole byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/subtitles/SubtitleBitmap.h"

namespace vmf {

// The longest run one code can carry.
constexpr uint32_t kLongestRun = 255;

struct RunLengthFields {
  std::vector<uint8_t> data;     // field 1 then field 2
  size_t secondFieldOffset = 0;  // where field 2 starts in `data`
};

// Encodes every row of `plane` (top row = display row 0).
RunLengthFields EncodeRunLength(const PixelPlane& plane);

}  // namespace vmf
