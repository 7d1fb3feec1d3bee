// Reading a bitmap subtitle packet back into a picture: the header, the optional transparency
// bytes, the two interlaced fields of run-length codes, and the palette painted onto a canvas
// at the header's position.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/subtitles/SubtitleBitmap.h"
#include "framework/subtitles/SubtitleRasteriser.h"
#include "tools/vexa-subrender/PngFile.h"

namespace subrender {

enum PacketResult : int32_t {
  kPacketOk = 0,
  kPacketTooShort = 1,      // shorter than the header and the four bytes after it
  kPacketBadRuns = 2,       // a row's codes run past the row or past the data
  kPacketFieldsMisfit = 3,  // neither layout's fields end where the header and length say
};

struct DecodedPacket {
  vmf::SubtitleRecord header{};
  bool hasTransparency = false;
  uint8_t transparency[4] = {};
  vmf::PixelPlane plane;  // header.width x header.height palette values, display row 0 first
};

// Tries both layouts (transparency bytes after the header, or four zero bytes at the end) and
// keeps the one whose fields fit the data exactly, the transparent one first.
PacketResult DecodeSubtitlePacket(const uint8_t* packet, size_t size, DecodedPacket* out);

// The packet on a transparent canvas: palette colours from the header; alpha from the
// transparency bytes, or, without them, value 0 clear and the others opaque.
RgbaPicture PaintPacket(const DecodedPacket& packet, uint32_t canvasWidth, uint32_t canvasHeight);

const char* PacketResultText(PacketResult result);

}  // namespace subrender
