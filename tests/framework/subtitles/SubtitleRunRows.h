// The test side's run-length decoder of subtitle packets and the drawing of a cue into a
// packet, free of the test framework so the fuzz target can use them too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "framework/subtitles/SubtitleBitmap.h"
#include "framework/subtitles/SubtitlePacket.h"
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

inline SubtitleRecord HeaderOf(const uint8_t* packet) {
  SubtitleRecord h;
  std::memcpy(&h, packet, sizeof h);
  return h;
}

// The record the SRT read module fills in before building a packet: black outline, white text.
inline SubtitleRecord CueRecord(uint32_t width, uint32_t height, const char* timeText) {
  SubtitleRecord record{};
  std::memcpy(record.timeText, timeText, sizeof record.timeText);
  record.width = static_cast<uint16_t>(width);
  record.height = static_cast<uint16_t>(height);
  std::memset(record.colours + 6, 254, 6);
  return record;
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
  CuePacket c;
  if (!PickSubtitlePreset(frameWidth, frameHeight, &c.preset)) return c;
  uint32_t width = static_cast<uint32_t>(frameWidth), height = static_cast<uint32_t>(frameHeight);
  SubtitleBytes bitmap;
  char timeText[kTimeTextSize] = {};
  c.result = RenderSubtitle(context, frameWidth, frameHeight, &width, &height, &bitmap, &c, timeText, text, 0, 10'000'000);
  if (c.result != kSubtitleOk) return c;
  c.bitmap = UnpackFourBit(bitmap.get(), width, height);
  c.placed = FitIntoArea(CropPadded(c.bitmap, FindEvenBox(c.bitmap)), AreaOf(c.preset));
  c.result = BuildSubtitlePacket(c.preset, bitmap.get(), CueRecord(width, height, timeText), &c.length, &c.packet, true);
  return c;
}

}  // namespace vmf::test
