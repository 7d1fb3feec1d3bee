// The run-length decoder of bitmap subtitle packets and the painting of their palette values.
#include "tools/vexa-subrender/PacketPicture.h"

#include <cstring>

namespace subrender {
namespace {

constexpr size_t kHeaderSize = sizeof(vmf::SubtitleRecord);
constexpr size_t kTrailerSize = 4;  // transparency bytes, or the zero bytes that replace them
constexpr uint8_t kOpaque = 255;
constexpr uint32_t kColourBits = 2;
constexpr uint32_t kColourMask = 3;
constexpr uint32_t kNibbleBits = 4;
// A code has as many nibbles as its value needs: at least 4 after one nibble, 0x10 after two,
// 0x40 after three; four nibbles always end it.
constexpr uint32_t kCodeComplete[] = {0x4, 0x10, 0x40, 0x100};

// Nibbles of one field, high nibble of each byte first.
class CNibbleReader {
 public:
  CNibbleReader(const uint8_t* data, size_t bytes) : m_data(data), m_nibbles(bytes * 2) {}
  bool Next(uint32_t* v) {
    if (m_at >= m_nibbles) return false;
    const uint8_t byte = m_data[m_at / 2];
    *v = (*v << kNibbleBits) | (m_at % 2 == 0 ? byte >> kNibbleBits : byte & 0x0F);
    ++m_at;
    return true;
  }
  void AlignToByte() { m_at += m_at % 2; }
  bool AtEnd() const { return m_at == m_nibbles; }

 private:
  const uint8_t* m_data;
  size_t m_nibbles;
  size_t m_at = 0;
};

// One display row: runs of (length << 2 | colour); length 0 fills the rest of the row.
bool ReadRow(CNibbleReader& in, vmf::PixelPlane* plane, uint32_t y) {
  for (uint32_t x = 0; x < plane->width;) {
    uint32_t code = 0;
    for (uint32_t complete : kCodeComplete) {
      if (!in.Next(&code)) return false;
      if (code >= complete) break;
    }
    const uint32_t length = code >> kColourBits;
    const uint32_t run = length == 0 ? plane->width - x : length;
    if (run > plane->width - x) return false;
    for (uint32_t i = 0; i < run; ++i) plane->Ref(x++, y) = static_cast<uint8_t>(code & kColourMask);
  }
  in.AlignToByte();
  return true;
}

// The rows first, first + 2, ... from `bytes` bytes that they must use up exactly.
PacketResult ReadField(const uint8_t* data, size_t bytes, uint32_t first, vmf::PixelPlane* plane) {
  CNibbleReader in(data, bytes);
  for (uint32_t y = first; y < plane->height; y += 2)
    if (!ReadRow(in, plane, y)) return kPacketBadRuns;
  return in.AtEnd() ? kPacketOk : kPacketFieldsMisfit;
}

PacketResult ReadFields(const uint8_t* data, size_t bytes, DecodedPacket* out) {
  const size_t second = out->header.secondFieldOffset;
  if (second > bytes) return kPacketFieldsMisfit;
  out->plane = vmf::PixelPlane(out->header.width, out->header.height);
  const PacketResult first = ReadField(data, second, 0, &out->plane);
  if (first != kPacketOk) return first;
  return ReadField(data + second, bytes - second, 1, &out->plane);
}

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

}  // namespace

PacketResult DecodeSubtitlePacket(const uint8_t* packet, size_t size, DecodedPacket* out) {
  if (size < kHeaderSize + kTrailerSize) return kPacketTooShort;
  std::memcpy(&out->header, packet, kHeaderSize);
  const size_t dataBytes = size - kHeaderSize - kTrailerSize;
  out->hasTransparency = true;
  std::memcpy(out->transparency, packet + kHeaderSize, kTrailerSize);
  const PacketResult withBytes = ReadFields(packet + kHeaderSize + kTrailerSize, dataBytes, out);
  if (withBytes == kPacketOk) return kPacketOk;
  if (!AllZero(packet + size - kTrailerSize, kTrailerSize)) return withBytes;
  out->hasTransparency = false;
  std::memset(out->transparency, 0, sizeof out->transparency);
  return ReadFields(packet + kHeaderSize, dataBytes, out);
}

RgbaPicture PaintPacket(const DecodedPacket& packet, uint32_t canvasWidth, uint32_t canvasHeight) {
  RgbaPicture picture(canvasWidth, canvasHeight);
  const vmf::PixelPlane& plane = packet.plane;
  for (uint32_t y = 0; y < plane.height; ++y) {
    const uint64_t cy = uint64_t{packet.header.y1} + y;
    for (uint32_t x = 0; x < plane.width; ++x) {
      const uint64_t cx = uint64_t{packet.header.x1} + x;
      if (cx >= canvasWidth || cy >= canvasHeight) continue;
      const uint8_t v = plane.At(x, y);
      uint8_t* px = &picture.pixels[(cy * canvasWidth + cx) * 4];
      std::memcpy(px, &packet.header.colours[v * 3], 3);
      px[3] = packet.hasTransparency ? packet.transparency[v] : (v == vmf::kPixelClear ? 0 : kOpaque);
    }
  }
  return picture;
}

const char* PacketResultText(PacketResult result) {
  switch (result) {
    case kPacketOk: return "decoded";
    case kPacketTooShort: return "shorter than a packet header";
    case kPacketBadRuns: return "run-length codes overrun a row or the data";
    default: return "the fields do not fit the packet's length";
  }
}

}  // namespace subrender
