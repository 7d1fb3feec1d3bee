// RenderCuePacket: render and packet building as one step, for the SRT module and the tools.
#include <cstring>

#include "framework/subtitles/SubtitleBitmap.h"
#include "framework/subtitles/SubtitleRasteriser.h"

namespace vmf {

int32_t RenderCuePacket(SubtitleRasteriser* context, uint32_t frameWidth, uint32_t frameHeight,
                        const char* cueText, uint64_t start, uint64_t stop, SubtitlePreset preset,
                        SubtitleBytes* packet, uint16_t* length, SubtitleBytes* bitmap, uint32_t* width,
                        uint32_t* height) {
  uint32_t w = frameWidth, h = frameHeight;
  SubtitleBytes drawn;
  char timeText[kTimeTextSize] = {};
  const int check = 0;  // the rasteriser wants it present; it never writes it
  const int32_t rendered = RenderSubtitle(context, static_cast<int32_t>(frameWidth),
                                          static_cast<int32_t>(frameHeight), &w, &h, &drawn, &check,
                                          timeText, cueText, start, stop);
  if (rendered != kSubtitleOk) return rendered;
  // The bitmap is at most 1.5 times the largest frame the rasteriser takes, so its sides fit
  // the record's 16-bit fields.
  SubtitleRecord record{};
  std::memcpy(record.timeText, timeText, sizeof record.timeText);
  record.width = static_cast<uint16_t>(w);
  record.height = static_cast<uint16_t>(h);
  std::memcpy(record.colours, kCuePacketColours, sizeof record.colours);
  const int32_t built = BuildSubtitlePacket(preset, drawn.get(), record, length, packet, true);
  if (built == kSubtitleOk && bitmap != nullptr) {
    *bitmap = std::move(drawn);
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
  }
  return built;
}

}  // namespace vmf
