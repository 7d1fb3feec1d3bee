// Loading the font, producing each glyph's outline ring and fill with FreeType, combining the
// two coverages, and drawing the result onto the canvas.
#include "framework/subtitles/SubtitleGlyphs.h"

#include FT_OUTLINE_H

#include <algorithm>

namespace vmf {
namespace {

constexpr uint32_t kFull = 255;
// Italic: x grows by a fifth of y (16.16 fixed point); bold: the outline grows by 1/24 of the
// pixel size (26.6), about 1.3 pixels at the base size.
constexpr FT_Fixed kUnit = 0x10000;
constexpr FT_Fixed kItalicShear = kUnit / 5;
constexpr uint32_t kBoldDivisor = 24;
constexpr FT_Pos kSubPixels = 64;
// Bars: the solid part is a sixteenth of the pixel size, at least two pixels, with two rows of
// outline above and below, as wide as the stroker's ring.
constexpr int32_t kBarRingRows = 2;
constexpr int32_t kBarMinimumRows = 2;
constexpr uint32_t kBarDivisor = 16;

// Runs a FreeType operation that replaces a glyph in place (destroying the old one when it
// succeeds, leaving it when it fails) on a glyph held by its owner.
template <typename Op>
bool ReplaceGlyph(FtGlyphPtr& glyph, Op op) {
  FT_Glyph raw = glyph.release();
  const FT_Error error = op(&raw);
  glyph.reset(raw);
  return error == 0;
}

uint8_t BitmapAt(const FT_Bitmap& b, int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x >= static_cast<int32_t>(b.width) || y >= static_cast<int32_t>(b.rows)) return 0;
  const int32_t row = b.pitch >= 0 ? y : static_cast<int32_t>(b.rows) - 1 - y;
  return b.buffer[static_cast<ptrdiff_t>(row) * std::abs(b.pitch) + x];
}

uint32_t ByteOf(uint32_t word, int index) { return (word >> (8 * index)) & 0xFF; }

// The glyph image from the rendered ring and fill, the fill centred on the ring.
void CombineBitmaps(const FT_BitmapGlyph ring, const FT_BitmapGlyph fill, GlyphImage* image) {
  image->Resize(static_cast<int32_t>(ring->bitmap.width), static_cast<int32_t>(ring->bitmap.rows));
  image->left = ring->left;
  image->top = ring->top;
  const int32_t dx = (image->width - static_cast<int32_t>(fill->bitmap.width)) / 2;
  const int32_t dy = (image->height - static_cast<int32_t>(fill->bitmap.rows)) / 2;
  for (int32_t y = 0; y < image->height; ++y) {
    for (int32_t x = 0; x < image->width; ++x) {
      const GlyphPixel px = CombineCoverage(BitmapAt(ring->bitmap, x, y), BitmapAt(fill->bitmap, x - dx, y - dy));
      const size_t i = static_cast<size_t>(y) * image->width + x;
      image->coverage[i] = px.coverage;
      image->outline[i] = px.outline;
      image->fill[i] = px.fill;
    }
  }
}

// The slot's outline made bold and italic as asked; answers the advance the boldening adds.
FT_Pos ShapeOutline(FT_GlyphSlot slot, const TextStyle& style) {
  FT_Pos extra = 0;
  if (style.bold) {
    extra = static_cast<FT_Pos>(style.pixelSize) * kSubPixels / kBoldDivisor;
    FT_Outline_Embolden(&slot->outline, extra);
  }
  if (style.italic) {
    FT_Matrix shear{kUnit, kItalicShear, 0, kUnit};
    FT_Outline_Transform(&slot->outline, &shear);
  }
  return extra;
}

}  // namespace

void GlyphImage::Resize(int32_t w, int32_t h) {
  width = w;
  height = h;
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  coverage.assign(n, 0);
  outline.assign(n, 0);
  fill.assign(n, 0);
}

GlyphPixel CombineCoverage(uint8_t o, uint8_t f) {
  const uint32_t outlinePart = (uint32_t{o} * o / kFull) * (kFull - f) / kFull;
  return GlyphPixel{std::max(o, f), static_cast<uint8_t>(outlinePart), static_cast<uint8_t>(uint32_t{f} * f / kFull)};
}

bool OpenSubtitleFont(const char* path, SubtitleFont* font) {
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) return false;
  font->library.reset(library);
  FT_Face face = nullptr;
  if (FT_New_Face(library, path, 0, &face) != 0) return false;
  font->face.reset(face);
  if (FT_Set_Pixel_Sizes(face, 0, kBasePixelSize) != 0) return false;
  font->pixelSize = kBasePixelSize;
  FT_Stroker stroker = nullptr;
  if (FT_Stroker_New(library, &stroker) != 0) return false;
  font->stroker.reset(stroker);
  FT_Stroker_Set(stroker, kStrokeRadius, FT_STROKER_LINECAP_ROUND, FT_STROKER_LINEJOIN_ROUND, 0);
  return true;
}

bool MakeGlyphImage(SubtitleFont& font, char32_t code, const TextStyle& style, GlyphImage* image) {
  FT_Face face = font.face.get();
  if (font.pixelSize != style.pixelSize) {
    if (FT_Set_Pixel_Sizes(face, 0, style.pixelSize) != 0) return false;
    font.pixelSize = style.pixelSize;
  }
  if (FT_Load_Char(face, code, FT_LOAD_NO_BITMAP) != 0) return false;
  if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return false;
  const FT_Pos extra = ShapeOutline(face->glyph, style);
  image->advance = static_cast<int32_t>((face->glyph->advance.x + extra) / kSubPixels) + 1;

  FT_Glyph raw = nullptr;
  if (FT_Get_Glyph(face->glyph, &raw) != 0) return false;
  FtGlyphPtr fill(raw);
  if (FT_Glyph_Copy(fill.get(), &raw) != 0) return false;
  FtGlyphPtr ring(raw);
  FT_Stroker stroker = font.stroker.get();
  const auto render = [](FT_Glyph* g) { return FT_Glyph_To_Bitmap(g, FT_RENDER_MODE_NORMAL, nullptr, 1); };
  if (!ReplaceGlyph(ring, [stroker](FT_Glyph* g) { return FT_Glyph_Stroke(g, stroker, 1); }) ||
      !ReplaceGlyph(ring, render) || !ReplaceGlyph(fill, render)) {
    return false;
  }
  CombineBitmaps(reinterpret_cast<FT_BitmapGlyph>(ring.get()), reinterpret_cast<FT_BitmapGlyph>(fill.get()), image);
  return true;
}

GlyphImage MakeBarImage(int32_t width, uint32_t pixelSize) {
  const int32_t solid = std::max(kBarMinimumRows, static_cast<int32_t>(pixelSize / kBarDivisor));
  GlyphImage bar;
  bar.Resize(std::max(width, 0), solid + 2 * kBarRingRows);
  bar.advance = bar.width;
  for (int32_t y = 0; y < bar.height; ++y) {
    const bool ring = y < kBarRingRows || y >= kBarRingRows + solid;
    const GlyphPixel px = CombineCoverage(kFull, ring ? 0 : kFull);
    for (int32_t x = 0; x < bar.width; ++x) {
      const size_t i = static_cast<size_t>(y) * bar.width + x;
      bar.coverage[i] = px.coverage;
      bar.outline[i] = px.outline;
      bar.fill[i] = px.fill;
    }
  }
  return bar;
}

bool DrawGlyphImage(Canvas& canvas, const GlyphImage& image, int32_t x, int32_t y, uint32_t textColour) {
  if (x < 0 || y < 0 || x + image.width > canvas.width || y + image.height > canvas.height) return false;
  for (int32_t j = 0; j < image.height; ++j) {
    uint32_t* row = canvas.Row(y + j);
    for (int32_t i = 0; i < image.width; ++i) {
      const size_t src = static_cast<size_t>(j) * image.width + i;
      if (image.coverage[src] == 0) continue;  // no fill, no outline: the canvas keeps its pixel
      uint32_t& pixel = row[x + i];
      uint32_t out = 0;
      // Canvas bytes run blue, green, red; the colours are stored the other way round.
      for (int b = 0; b < 3; ++b) {
        const uint32_t value = std::min<uint32_t>(
            kFull, image.fill[src] * ByteOf(textColour, 2 - b) / kFull + image.outline[src] * ByteOf(kOutlineColour, 2 - b) / kFull);
        out |= std::max(ByteOf(pixel, b), value) << (8 * b);
      }
      out |= std::max<uint32_t>(ByteOf(pixel, 3), image.coverage[src]) << 24;
      pixel = out;
    }
  }
  return true;
}

}  // namespace vmf
