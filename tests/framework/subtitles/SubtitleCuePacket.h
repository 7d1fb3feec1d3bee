// The drawing of a cue into a packet as the SRT read module does it, free of the test framework
// so the fuzz target can use it too.
#pragma once

#include <cstdint>
#include <cstring>

#include "framework/subtitles/SubtitleBitmap.h"
#include "framework/subtitles/SubtitlePacket.h"
#include "framework/subtitles/SubtitleRasteriser.h"

namespace vmf::test {

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
