// Placing glyphs line by line on the canvas and cutting out what they cover.
#include "framework/subtitles/SubtitleLayout.h"

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>

namespace vmf {
namespace {

// Lines are 1.2 times the largest pixel size of the cue apart (38 at the base size).
constexpr uint32_t kLineSpacingTenths = 12;
// Where bars sit, in tenths of the pixel size: an underline's top below the baseline, a
// strike-through's middle above it.
constexpr int32_t kUnderlineTenths = 1;
constexpr int32_t kStrikeTenths = 3;

// Stroking a glyph is most of a cue's cost, and a cue repeats its letters: each character is
// made once per shape (size, bold, italic) and drawn from the copy after that.
class CGlyphCache {
 public:
  explicit CGlyphCache(SubtitleFont& font) : m_font(font) {}
  // Null when the font cannot make the character.
  const GlyphImage* Find(char32_t code, const TextStyle& style) {
    const Key key{code, style.pixelSize, style.bold, style.italic};
    auto found = m_glyphs.find(key);
    if (found == m_glyphs.end()) {
      GlyphImage image;
      const bool made = MakeGlyphImage(m_font, code, style, &image);
      found = m_glyphs.emplace(key, made ? std::optional<GlyphImage>(std::move(image)) : std::nullopt).first;
    }
    return found->second ? &*found->second : nullptr;
  }

 private:
  using Key = std::tuple<char32_t, uint32_t, bool, bool>;
  SubtitleFont& m_font;
  std::map<Key, std::optional<GlyphImage>> m_glyphs;
};

class CLinePen {
 public:
  CLinePen(uint32_t frameWidth, uint32_t frameHeight, const Canvas& canvas, uint32_t lineAdvance)
      : m_left(static_cast<int32_t>(frameWidth / 4)),
        m_right(canvas.width - static_cast<int32_t>(frameWidth / 4)),
        m_bottom(canvas.height - static_cast<int32_t>(frameHeight / 4)),
        m_advance(static_cast<int32_t>(lineAdvance)),
        m_x(m_left),
        m_baseline(static_cast<int32_t>(frameHeight / 4 + kBasePixelSize)) {}

  void NewLine() {
    m_baseline += m_advance;
    m_x = m_left;
  }
  bool Overflows(int32_t advance) const { return m_x + advance >= m_right; }
  bool PastBottom() const { return m_baseline >= m_bottom; }
  int32_t X() const { return m_x; }
  int32_t Baseline() const { return m_baseline; }
  void Advance(int32_t by) { m_x += by; }

 private:
  int32_t m_left, m_right, m_bottom, m_advance;
  int32_t m_x, m_baseline;
};

void Draw(Canvas& canvas, const GlyphImage& image, int32_t x, int32_t y, uint32_t colour, CanvasBox* box) {
  if (image.width > 0 && image.height > 0 && DrawGlyphImage(canvas, image, x, y, colour)) {
    box->Extend(x, y, image.width, image.height);
  }
}

void DrawBars(Canvas& canvas, const CLinePen& pen, int32_t width, const TextStyle& style, CanvasBox* box) {
  const int32_t size = static_cast<int32_t>(style.pixelSize);
  const GlyphImage bar = MakeBarImage(width, style.pixelSize);
  if (style.underline) Draw(canvas, bar, pen.X(), pen.Baseline() + size * kUnderlineTenths / 10, style.colour, box);
  if (style.strikeOut) {
    Draw(canvas, bar, pen.X(), pen.Baseline() - size * kStrikeTenths / 10 - bar.height / 2, style.colour, box);
  }
}

}  // namespace

void CanvasBox::Extend(int32_t x, int32_t y, int32_t w, int32_t h) {
  if (Empty()) {
    *this = CanvasBox{x, y, x + w, y + h};
    return;
  }
  left = std::min(left, x);
  top = std::min(top, y);
  right = std::max(right, x + w);
  bottom = std::max(bottom, y + h);
}

CanvasBox LayOutCue(SubtitleFont& font, const std::vector<StyledChar>& text, uint32_t frameWidth,
                    uint32_t frameHeight, Canvas* canvas) {
  canvas->width = static_cast<int32_t>(frameWidth + frameWidth / 2);
  canvas->height = static_cast<int32_t>(frameHeight + frameHeight / 2);
  canvas->Reset(canvas->width, canvas->height);
  uint32_t largest = kBasePixelSize;
  for (const StyledChar& c : text) largest = std::max(largest, c.style.pixelSize);
  CLinePen pen(frameWidth, frameHeight, *canvas, largest * kLineSpacingTenths / 10);

  CanvasBox box;
  CGlyphCache glyphs(font);
  for (const StyledChar& c : text) {
    if (c.code == U'\n') {
      pen.NewLine();
      continue;
    }
    if (c.code == U'\r') continue;
    const GlyphImage* made = glyphs.Find(c.code, c.style);
    if (made == nullptr) continue;  // a glyph the font cannot make is left out
    const GlyphImage& glyph = *made;
    if (pen.Overflows(glyph.advance)) pen.NewLine();
    if (pen.PastBottom()) break;
    Draw(*canvas, glyph, pen.X() + glyph.left, pen.Baseline() - glyph.top, c.style.colour, &box);
    if (c.style.underline || c.style.strikeOut) DrawBars(*canvas, pen, glyph.advance, c.style, &box);
    pen.Advance(glyph.advance);
  }
  return box;
}

PixelPlane CutPalettePlane(const Canvas& canvas, const CanvasBox& box) {
  if (box.Empty()) return PixelPlane();
  PixelPlane plane(static_cast<uint32_t>(box.right - box.left), static_cast<uint32_t>(box.bottom - box.top));
  for (uint32_t y = 0; y < plane.height; ++y) {
    const int32_t row = box.top + static_cast<int32_t>(y);
    for (uint32_t x = 0; x < plane.width; ++x) {
      plane.Ref(x, y) = PaletteValueOf(canvas.At(box.left + static_cast<int32_t>(x), row));
    }
  }
  return plane;
}

}  // namespace vmf
