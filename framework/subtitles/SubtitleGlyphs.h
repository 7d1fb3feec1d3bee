// Glyphs with FreeType: the font a render loads, each character drawn as an outline ring plus
// a fill, and the drawing of such images onto the 32-bit layout canvas.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "framework/subtitles/FreeTypeHandles.h"

namespace vmf {

constexpr uint32_t kBasePixelSize = 32;
// The stroker's radius in 26.6 fixed point: the pixel size plus 100, about two pixels.
constexpr FT_Fixed kStrokeRadius = kBasePixelSize + 100;
// Colours as the canvas stores them, blue in the low byte: white text, a blue outline.
constexpr uint32_t kDefaultTextColour = 0xFFFFFF;
constexpr uint32_t kOutlineColour = 0xFF0000;

// How the markup asks a run of text to be drawn.
struct TextStyle {
  uint32_t colour = kDefaultTextColour;
  uint32_t pixelSize = kBasePixelSize;
  bool italic = false;
  bool bold = false;
  bool underline = false;
  bool strikeOut = false;
};

// A drawn glyph: per pixel its coverage, the outline part and the fill part (0 to 255).
struct GlyphImage {
  int32_t width = 0;
  int32_t height = 0;
  int32_t left = 0;     // from the pen to the image's left column
  int32_t top = 0;      // from the baseline up to the image's top row
  int32_t advance = 0;  // pen movement in whole pixels
  std::vector<uint8_t> coverage, outline, fill;  // top row first

  void Resize(int32_t w, int32_t h);
};

// The three values one pixel keeps from outline coverage o and fill coverage f.
struct GlyphPixel {
  uint8_t coverage, outline, fill;
};
GlyphPixel CombineCoverage(uint8_t o, uint8_t f);

// A face at the base size with its stroker; the library outlives both.
struct SubtitleFont {
  FtLibraryPtr library;
  FtFacePtr face;
  FtStrokerPtr stroker;
  uint32_t pixelSize = 0;
};
bool OpenSubtitleFont(const char* path, SubtitleFont* font);

// One character in a style; false when FreeType cannot produce it.
bool MakeGlyphImage(SubtitleFont& font, char32_t code, const TextStyle& style, GlyphImage* image);
// A horizontal bar `width` pixels long in the style's size, with an outline ring above and below.
GlyphImage MakeBarImage(int32_t width, uint32_t pixelSize);

// The 32-bit canvas the layout draws on, top row first.
// The canvas is 1.5 times the frame each way, but a cue covers a few of its rows: a row is made
// (zero-filled) when it is first drawn on, so a cue does not pay for clearing megabytes.
struct Canvas {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<std::unique_ptr<uint32_t[]>> rows;  // null: nothing drawn on that row

  void Reset(int32_t w, int32_t h) {
    width = w;
    height = h;
    rows.clear();
    rows.resize(static_cast<size_t>(h));
  }
  uint32_t* Row(int32_t y) {
    auto& row = rows[static_cast<size_t>(y)];
    if (!row) row = std::make_unique<uint32_t[]>(static_cast<size_t>(width));  // zeroed
    return row.get();
  }
  uint32_t At(int32_t x, int32_t y) const {
    const auto& row = rows[static_cast<size_t>(y)];
    return row ? row[static_cast<size_t>(x)] : 0;
  }
};
// Draws `image` with its top-left corner at (x, y) in the text colour; false (nothing drawn)
// unless it lies wholly inside the canvas.
bool DrawGlyphImage(Canvas& canvas, const GlyphImage& image, int32_t x, int32_t y, uint32_t textColour);

}  // namespace vmf
