// Laying a cue out on the canvas: lines from the left margin, wrapped at the right margin, cut
// at the bottom margin; and the box of what was drawn cut out as palette values.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/subtitles/SubtitleBitmap.h"
#include "framework/subtitles/SubtitleGlyphs.h"
#include "framework/subtitles/SubtitleMarkup.h"

namespace vmf {

// Frames larger than this on either side get no canvas (it would not fit in memory anyway).
constexpr uint32_t kLargestFrameSide = 8192;

// Canvas pixels covered by drawn glyphs; right and bottom are exclusive.
struct CanvasBox {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool Empty() const { return right <= left || bottom <= top; }
  void Extend(int32_t x, int32_t y, int32_t w, int32_t h);
};

// Draws `text` on a new canvas 1.5 times the frame in each direction; answers the drawn box.
CanvasBox LayOutCue(SubtitleFont& font, const std::vector<StyledChar>& text, uint32_t frameWidth,
                    uint32_t frameHeight, Canvas* canvas);

// The box's pixels as palette values, top row first.
PixelPlane CutPalettePlane(const Canvas& canvas, const CanvasBox& box);

}  // namespace vmf
