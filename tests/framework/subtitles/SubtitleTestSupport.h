// Reading subtitle packets back into pixels, so tests compare what a packet carries with the
// bitmap it was built from.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "framework/subtitles/SubtitleBitmap.h"
#include "framework/subtitles/SubtitlePacket.h"
#include "framework/subtitles/SubtitleRasteriser.h"
#include "tests/framework/subtitles/SubtitleRunRows.h"

namespace vmf::test {

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

// A cue drawn for a frame and built into a packet as the SRT read module does it.
struct CuePacket {
  int32_t result = kSubtitleBadArgument;
  SubtitlePreset preset = SubtitlePreset::kSmall;
  PixelPlane bitmap;  // what RenderSubtitle drew
  PixelPlane placed;  // what the packet should carry: the box padded, and scaled to fit the area
  SubtitleBytes packet;
  uint16_t length = 0;
};

inline CuePacket DrawCuePacket(SubtitleRasteriser* context, const char* text, int32_t frameWidth, int32_t frameHeight) {
  static constexpr uint8_t kColours[12] = {0, 0, 0, 0, 0, 0, 254, 254, 254, 254, 254, 254};
  CuePacket c;
  if (!PickSubtitlePreset(frameWidth, frameHeight, &c.preset)) return c;
  uint32_t width = static_cast<uint32_t>(frameWidth), height = static_cast<uint32_t>(frameHeight);
  SubtitleBytes bitmap;
  SubtitleRecord record{};
  char timeText[kTimeTextSize] = {};
  c.result = RenderSubtitle(context, frameWidth, frameHeight, &width, &height, &bitmap, &c, timeText, text, 0, 10'000'000);
  if (c.result != kSubtitleOk) return c;
  c.bitmap = UnpackFourBit(bitmap.get(), width, height);
  c.placed = FitIntoArea(CropPadded(c.bitmap, FindEvenBox(c.bitmap)), AreaOf(c.preset));
  std::memcpy(record.timeText, timeText, sizeof record.timeText);
  record.width = static_cast<uint16_t>(width);
  record.height = static_cast<uint16_t>(height);
  std::memcpy(record.colours, kColours, sizeof kColours);
  c.result = BuildSubtitlePacket(c.preset, bitmap.get(), record, &c.length, &c.packet, true);
  return c;
}

}  // namespace vmf::test
