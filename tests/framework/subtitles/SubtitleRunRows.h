// The test side's run-length decoder of subtitle packets, free of the test framework so the
// fuzz target can use it too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/subtitles/SubtitleBitmap.h"

namespace vmf::test {

// Decodes one row of run-length codes starting at nibble `*at`; false on a malformed row.
inline bool ReadRunRow(const uint8_t* data, size_t size, size_t* at, PixelPlane* plane, uint32_t y) {
  const auto next = [&](uint32_t* v) {
    if (*at / 2 >= size) return false;
    const uint8_t byte = data[*at / 2];
    *v = (*v << 4) | ((*at % 2 == 0) ? byte >> 4 : byte & 0x0F);
    ++*at;
    return true;
  };
  for (uint32_t x = 0; x < plane->width;) {
    uint32_t v = 0;
    for (uint32_t least : {0x4u, 0x10u, 0x40u, 0x100u}) {
      if (!next(&v)) return false;
      if (v >= least) break;
    }
    const uint32_t n = (v >> 2) == 0 ? plane->width - x : v >> 2;
    if (x + n > plane->width) return false;
    for (uint32_t i = 0; i < n; ++i) plane->Ref(x++, y) = v & 3;
  }
  *at += *at % 2;
  return true;
}

// True when the rows of field 1 use up exactly `second` bytes and those of field 2 the rest.
inline bool FieldsFitExactly(const uint8_t* data, size_t size, PixelPlane* plane, size_t second) {
  size_t at = 0;
  for (uint32_t field = 0; field < 2; ++field) {
    if (at != (field == 0 ? 0 : second * 2)) return false;
    for (uint32_t y = field; y < plane->height; y += 2)
      if (!ReadRunRow(data, size, &at, plane, y)) return false;
  }
  return at == size * 2;
}

}  // namespace vmf::test
