// The pieces of packet building below BuildSubtitlePacket: the presets' display areas, the box
// of drawn pixels, its padding, the scaling that fits it into an area, and its placement.
#pragma once

#include <cstdint>

#include "framework/subtitles/SubtitleBitmap.h"
#include "framework/subtitles/SubtitleRasteriser.h"

namespace vmf {

// Bytes the packet adds to its run-length data: the header and four transparency bytes (or,
// without transparency, four zero bytes at the end).
constexpr uint32_t kPacketOverhead = sizeof(SubtitleRecord) + 4;
// Clear columns added on each side of the box.
constexpr uint32_t kBoxPadding = 2;
// Side of the transparent bitmap a render that draws nothing hands out; the box an empty bitmap
// falls back to (columns 16 to 19, stored rows 16 to 19) lies inside it.
constexpr uint32_t kEmptyBitmapSide = 20;

// Inclusive pixel coordinates a subtitle may occupy, and the transparency bytes of its colours.
struct DisplayArea {
  int32_t left, top, right, bottom;
  const uint8_t* transparency;  // four bytes, or null: the packet ends with four zero bytes
};
const DisplayArea& AreaOf(SubtitlePreset preset);

// The box of non-zero pixels in display coordinates (top row 0), made even in both directions.
struct PixelBox {
  int32_t left, top, width, height;
};
PixelBox FindEvenBox(const PixelPlane& plane);

// The box copied into a plane kBoxPadding columns wider on each side.
PixelPlane CropPadded(const PixelPlane& plane, const PixelBox& box);
// A plane of runs repainted at a new size, vertically first, then horizontally.
PixelPlane ScalePlane(const PixelPlane& plane, uint32_t newWidth, uint32_t newHeight);
// The padded box shrunk so it fits the area from (x, y) to its limits; unchanged when it fits.
PixelPlane FitIntoArea(PixelPlane padded, const DisplayArea& area);

struct Placement {
  int32_t left, top;
};
// Centred at the bottom of the area.
Placement PlaceInArea(const DisplayArea& area, uint32_t width, uint32_t height);

}  // namespace vmf
