// The subtitle bitmap in its two forms: the packed 4-bit bitmap handed across the rasteriser's
// interface (bottom row first), and a plane of one byte per pixel, top row first, that packet
// building works on. Also the canvas-to-palette conversion and the cue's time text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/subtitles/SubtitleRasteriser.h"

namespace vmf {

// The palette values a subtitle pixel takes.
enum SubtitlePixel : uint8_t {
  kPixelClear = 0,    // background
  kPixelOutline = 1,  // the outline colour and faint edges
  kPixelText = 2,     // the text colour
};

struct PixelPlane {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> values;  // width x height, top row first

  PixelPlane() = default;
  PixelPlane(uint32_t w, uint32_t h) : width(w), height(h), values(size_t{w} * h) {}
  // Pixels outside the plane read as clear, so a box may reach past a small bitmap.
  uint8_t At(int64_t x, int64_t y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return kPixelClear;
    return values[static_cast<size_t>(y) * width + static_cast<size_t>(x)];
  }
  uint8_t& Ref(uint32_t x, uint32_t y) { return values[size_t{y} * width + x]; }
};

// Bytes of a packed 4-bit bitmap: pixels are numbered through the rows without gaps, two to a
// byte, the left one in the high nibble.
size_t FourBitSize(uint32_t width, uint32_t height);
// The plane as a malloc'ed 4-bit bitmap, bottom row first; null when it cannot be allocated.
SubtitleBytes PackFourBit(const PixelPlane& plane);
// The reverse of PackFourBit; values are kept to their low two bits.
PixelPlane UnpackFourBit(const uint8_t* bitmap, uint32_t width, uint32_t height);

// The palette value of a canvas pixel (blue in byte 0, green, red; byte 3 is coverage).
SubtitlePixel PaletteValueOf(uint32_t canvasPixel);

// "[HH:MM:SS.mmm-HH:MM:SS.mmm]" for two times in 100-ns units, NUL-terminated in `out`
// (28 bytes); hours beyond 99 are cut so the text keeps its length.
constexpr size_t kTimeTextSize = 28;
void FormatSubtitleTime(uint64_t start, uint64_t stop, char out[kTimeTextSize]);

}  // namespace vmf
