// Packing and unpacking the 4-bit bitmap, the palette conversion and the time text.
#include "framework/subtitles/SubtitleBitmap.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vmf {
namespace {

constexpr uint64_t kUnitsPerMs = 10'000;
constexpr uint64_t kUnitsPerSecond = 1'000 * kUnitsPerMs;
constexpr uint64_t kUnitsPerMinute = 60 * kUnitsPerSecond;
constexpr uint64_t kUnitsPerHour = 60 * kUnitsPerMinute;

// Sums of blue, green and red at which the palette's outline and text entries are nearest:
// the palette holds black, (255, 0, 0) and (255, 255, 255), matched by their byte sums.
constexpr uint32_t kOutlineEntrySum = 255;

struct ClockTime {
  uint64_t hours, minutes, seconds, ms;
};

ClockTime ToClock(uint64_t t) {
  ClockTime c{};
  c.hours = t / kUnitsPerHour;
  c.minutes = (t - c.hours * kUnitsPerHour) / kUnitsPerMinute;
  c.seconds = (t - (c.hours * 60 + c.minutes) * kUnitsPerMinute) / kUnitsPerSecond;
  c.ms = (t - ((c.hours * 60 + c.minutes) * 60 + c.seconds) * kUnitsPerSecond) / kUnitsPerMs;
  c.hours %= 100;
  return c;
}

}  // namespace

size_t FourBitSize(uint32_t width, uint32_t height) { return (size_t{width} * height + 1) / 2; }

SubtitleBytes PackFourBit(const PixelPlane& plane) {
  const size_t bytes = FourBitSize(plane.width, plane.height);
  SubtitleBytes out(static_cast<uint8_t*>(std::calloc(bytes == 0 ? 1 : bytes, 1)));
  if (!out) return out;
  size_t index = 0;
  for (uint32_t stored = 0; stored < plane.height; ++stored) {
    const uint32_t y = plane.height - 1 - stored;
    for (uint32_t x = 0; x < plane.width; ++x, ++index) {
      const uint8_t value = plane.At(x, y) & 0x0F;
      out.get()[index / 2] |= (index % 2 == 0) ? value << 4 : value;
    }
  }
  return out;
}

PixelPlane UnpackFourBit(const uint8_t* bitmap, uint32_t width, uint32_t height) {
  PixelPlane plane(width, height);
  size_t index = 0;
  for (uint32_t stored = 0; stored < height; ++stored) {
    const uint32_t y = height - 1 - stored;
    for (uint32_t x = 0; x < width; ++x, ++index) {
      const uint8_t byte = bitmap[index / 2];
      plane.Ref(x, y) = ((index % 2 == 0) ? byte >> 4 : byte) & 0x03;
    }
  }
  return plane;
}

SubtitlePixel PaletteValueOf(uint32_t canvasPixel) {
  const uint32_t sum = (canvasPixel & 0xFF) + ((canvasPixel >> 8) & 0xFF) + ((canvasPixel >> 16) & 0xFF);
  if (sum == 0) return kPixelClear;
  return sum <= kOutlineEntrySum ? kPixelOutline : kPixelText;
}

void FormatSubtitleTime(uint64_t start, uint64_t stop, char out[kTimeTextSize]) {
  const ClockTime a = ToClock(start);
  const ClockTime b = ToClock(stop);
  char text[200];  // room for eight 64-bit values, so the format is never cut
  std::snprintf(text, sizeof text,
                "[%02" PRIu64 ":%02" PRIu64 ":%02" PRIu64 ".%03" PRIu64 "-%02" PRIu64 ":%02" PRIu64
                ":%02" PRIu64 ".%03" PRIu64 "]",
                a.hours, a.minutes, a.seconds, a.ms, b.hours, b.minutes, b.seconds, b.ms);
  std::memcpy(out, text, kTimeTextSize - 1);
  out[kTimeTextSize - 1] = '\0';
}

}  // namespace vmf
