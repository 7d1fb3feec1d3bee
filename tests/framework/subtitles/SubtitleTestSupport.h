// Reading subtitle packets back into pixels, so tests compare what a packet carries with the
// bitmap it was built from.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "framework/subtitles/SubtitleBitmap.h"
#include "framework/subtitles/SubtitleRasteriser.h"

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

// The rows of both fields, checking that field 1 ends where the header says field 2 starts.
inline PixelPlane ReadFields(const uint8_t* data, size_t size, uint32_t width, uint32_t height, size_t second) {
  PixelPlane plane(width, height);
  size_t at = 0;
  for (uint32_t field = 0; field < 2; ++field) {
    if (field == 1) {
      EXPECT_EQ(at, second * 2) << "field 2 starts elsewhere";
    }
    for (uint32_t y = field; y < height; y += 2) EXPECT_TRUE(ReadRunRow(data, size, &at, &plane, y)) << "row " << y;
  }
  EXPECT_EQ(at, size * 2) << "bytes after the last row";
  return plane;
}

inline SubtitleRecord HeaderOf(const uint8_t* packet) {
  SubtitleRecord h;
  std::memcpy(&h, packet, sizeof h);
  return h;
}

// The packet's pixels; `transparency` tells whether four transparency bytes precede the data.
inline PixelPlane DecodePacket(const uint8_t* packet, uint16_t length, bool transparency) {
  const SubtitleRecord h = HeaderOf(packet);
  const size_t start = sizeof h + (transparency ? 4 : 0);
  return ReadFields(packet + start, length - sizeof h - 4, h.width, h.height, h.secondFieldOffset);
}

}  // namespace vmf::test
