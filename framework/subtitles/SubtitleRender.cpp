// RenderSubtitle: font, markup, layout, palette conversion and time text for one cue.
#include <cstring>
#include <new>
#include <string>

#include "framework/subtitles/SubtitleContext.h"
#include "framework/subtitles/SubtitleLayout.h"
#include "framework/subtitles/SubtitlePacket.h"
#include "platform/files/TextConvert.h"

namespace vmf {
namespace {

// The font file as FreeType takes it: each UTF-16 unit of the path kept by its low byte.
std::string FontFileOf(const SubtitleRasteriser& context) {
  if (context.fontPath == nullptr) return kDefaultSubtitleFont;
  const size_t units = VexaFiles::WideLength(context.fontPath);
  std::string narrow(units + 1, '\0');
  const ptrdiff_t n = VexaFiles::WideToNarrow(context.fontPath, units, narrow.data(), narrow.size());
  narrow.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return narrow;
}

// What the cue draws, as palette values; a cue that draws nothing gives a clear bitmap.
PixelPlane DrawCue(SubtitleFont& font, const char* cueText, uint32_t frameWidth, uint32_t frameHeight) {
  const std::vector<StyledChar> text = ParseSubtitleMarkup(cueText == nullptr ? "" : cueText);
  Canvas canvas;
  const CanvasBox box = LayOutCue(font, text, frameWidth, frameHeight, &canvas);
  if (box.Empty()) return PixelPlane(kEmptyBitmapSide, kEmptyBitmapSide);
  return CutPalettePlane(canvas, box);
}

}  // namespace

int32_t RenderSubtitle(SubtitleRasteriser* context, [[maybe_unused]] int32_t frameWidth,
                       [[maybe_unused]] int32_t frameHeight, uint32_t* width, uint32_t* height,
                       SubtitleBytes* bitmap, const void* check, char* timeText, const char* cueText,
                       uint64_t start, uint64_t stop) {
  // The frame size arrives twice; the in/out pair is the one followed.
  if (context == nullptr || bitmap == nullptr || check == nullptr || width == nullptr || height == nullptr ||
      timeText == nullptr) {
    return kSubtitleBadArgument;
  }
  bitmap->reset();
  if (*width > kLargestFrameSide || *height > kLargestFrameSide) return kSubtitleNoMemory;
  try {
    SubtitleFont font;
    if (!OpenSubtitleFont(FontFileOf(*context).c_str(), &font)) return kSubtitleFontFailed;
    const PixelPlane plane = DrawCue(font, cueText, *width, *height);
    SubtitleBytes packed = PackFourBit(plane);
    if (!packed) return kSubtitleNoMemory;
    *bitmap = std::move(packed);
    *width = plane.width;
    *height = plane.height;
    FormatSubtitleTime(start, stop, timeText);
    return kSubtitleOk;
  } catch (const std::bad_alloc&) {
    return kSubtitleNoMemory;
  }
}

}  // namespace vmf
