// Reading subtitle packets back into pixels, so tests compare what a packet carries with the
// bitmap it was built from.
#pragma once

#include <gtest/gtest.h>

#include "tests/framework/subtitles/SubtitleRunRows.h"

namespace vmf::test {

// The rows of both fields, which must fill the plane and end where the header and the data say.
inline PixelPlane ReadFields(const uint8_t* data, size_t size, uint32_t width, uint32_t height, size_t second) {
  PixelPlane plane(width, height);
  EXPECT_TRUE(FieldsFitExactly(data, size, &plane, second)) << "rows do not fill the fields exactly";
  return plane;
}

// The packet's pixels; `transparency` tells whether four transparency bytes precede the data.
inline PixelPlane DecodePacket(const uint8_t* packet, uint16_t length, bool transparency) {
  const SubtitleRecord h = HeaderOf(packet);
  const size_t start = sizeof h + (transparency ? 4 : 0);
  return ReadFields(packet + start, length - sizeof h - 4, h.width, h.height, h.secondFieldOffset);
}

}  // namespace vmf::test
