// Shrinking a padded box into a display area: the factor, the new sizes and the repainting of
// runs at the new size.
#include <algorithm>

#include "framework/subtitles/SubtitlePacket.h"

namespace vmf {
namespace {

int32_t EvenUp(int32_t v) { return (v + 1) & ~1; }

// Repaints one line of `count` pixels read by `get` onto `newCount` pixels written by `set`:
// each run of equal non-zero pixels from p, n long, covers p*new/old for n*new/old pixels.
template <typename Get, typename Set>
void ScaleLine(uint32_t count, uint32_t newCount, Get get, Set set) {
  uint32_t p = 0;
  while (p < count) {
    const uint8_t value = get(p);
    uint32_t end = p + 1;
    while (end < count && get(end) == value) ++end;
    if (value != kPixelClear) {
      const uint64_t from = uint64_t{p} * newCount / count;
      const uint64_t length = uint64_t{end - p} * newCount / count;
      for (uint64_t i = from; i < from + length && i < newCount; ++i) set(static_cast<uint32_t>(i), value);
    }
    p = end;
  }
}

}  // namespace

PixelPlane ScalePlane(const PixelPlane& plane, uint32_t newWidth, uint32_t newHeight) {
  PixelPlane tall(plane.width, newHeight);
  for (uint32_t x = 0; x < plane.width; ++x) {
    ScaleLine(plane.height, newHeight, [&](uint32_t y) { return plane.At(x, y); },
              [&](uint32_t y, uint8_t v) { tall.Ref(x, y) = v; });
  }
  PixelPlane out(newWidth, newHeight);
  for (uint32_t y = 0; y < newHeight; ++y) {
    ScaleLine(plane.width, newWidth, [&](uint32_t x) { return tall.At(x, y); },
              [&](uint32_t x, uint8_t v) { out.Ref(x, y) = v; });
  }
  return out;
}

PixelPlane FitIntoArea(PixelPlane padded, const DisplayArea& area) {
  const int32_t x = EvenUp(area.left);
  const int32_t y = area.top;
  const double stride = padded.width;
  const double height = padded.height;
  const bool tooWide = x + stride > area.right;
  const bool tooHigh = y + height > area.bottom;
  if (!tooWide && !tooHigh) return padded;
  double factor = (area.right - x) / stride;
  if (tooHigh) {
    factor = (area.bottom - y) / height;
    if (stride * factor + x > area.right) factor = (area.right - x) / stride;
  }
  const auto newStride = static_cast<int32_t>(stride * factor);
  const int32_t width = newStride - static_cast<int32_t>(2 * kBoxPadding) - (newStride % 2);
  const int32_t newHeight = static_cast<int32_t>(height * factor) & ~1;
  if (width <= 0 || newHeight <= 0) return PixelPlane(2 * kBoxPadding, 0);
  const PixelPlane scaled = ScalePlane(padded, static_cast<uint32_t>(width), static_cast<uint32_t>(newHeight));
  return CropPadded(scaled, PixelBox{0, 0, width, newHeight});
}

}  // namespace vmf
