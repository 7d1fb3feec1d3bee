// Writing runs as nibble codes, row by row and field by field.
#include "framework/subtitles/SubtitleRunLength.h"

namespace vmf {
namespace {

// Run lengths from which a code needs two, three and four nibbles.
constexpr uint32_t kTwoNibbleRun = 4;
constexpr uint32_t kThreeNibbleRun = 16;
constexpr uint32_t kFourNibbleRun = 64;

class NibbleWriter {
 public:
  explicit NibbleWriter(std::vector<uint8_t>* out) : m_out(out) {}

  void Put(uint8_t nibble) {
    if (m_half) {
      m_out->back() |= nibble & 0x0F;
    } else {
      m_out->push_back(static_cast<uint8_t>(nibble << 4));
    }
    m_half = !m_half;
  }
  // A row ends on a whole byte: the low nibble already written as zero stays.
  void EndRow() { m_half = false; }

 private:
  std::vector<uint8_t>* m_out;
  bool m_half = false;
};

// One run of 1 to 255 pixels, or 0 for "the rest of the row".
void PutRun(NibbleWriter& w, uint32_t length, uint8_t colour) {
  const uint32_t code = (length << 2) | (colour & 0x03);
  const int nibbles = (length == 0 || length >= kFourNibbleRun) ? 4
                      : length >= kThreeNibbleRun                 ? 3
                      : length >= kTwoNibbleRun                   ? 2
                                                                  : 1;
  for (int i = nibbles - 1; i >= 0; --i) w.Put(static_cast<uint8_t>(code >> (4 * i)));
}

void PutRow(NibbleWriter& w, const PixelPlane& plane, uint32_t y) {
  uint32_t x = 0;
  while (x < plane.width) {
    const uint8_t colour = plane.At(x, y) & 0x03;
    uint32_t end = x + 1;
    while (end < plane.width && (plane.At(end, y) & 0x03) == colour) ++end;
    uint32_t length = end - x;
    if (length > kLongestRun && end == plane.width) {
      PutRun(w, 0, colour);
    } else {
      for (; length > kLongestRun; length -= kLongestRun) PutRun(w, kLongestRun, colour);
      PutRun(w, length, colour);
    }
    x = end;
  }
  w.EndRow();
}

}  // namespace

RunLengthFields EncodeRunLength(const PixelPlane& plane) {
  RunLengthFields fields;
  NibbleWriter w(&fields.data);
  for (uint32_t y = 0; y < plane.height; y += 2) PutRow(w, plane, y);
  fields.secondFieldOffset = fields.data.size();
  for (uint32_t y = 1; y < plane.height; y += 2) PutRow(w, plane, y);
  return fields;
}

}  // namespace vmf
