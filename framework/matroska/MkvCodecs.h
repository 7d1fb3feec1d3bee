#pragma once
// The codec table: Matroska codec ID, the reader's codec type number, the WAVE format tag
// and whether the rest of the system can use the codec.
#include <cstdint>
#include <span>
#include <string>

namespace mkv {

constexpr int32_t kNoTag = -1;

struct CodecRow {
  const char* id;
  uint32_t type;
  int32_t waveTag;  // kNoTag where the codec has none
  bool usable;
};

namespace codec {
enum : uint32_t {
  kUnknown = 0,
  kVfwFourcc = 1,
  kMpeg4Sp = 3,
  kMpeg4Asp = 4,
  kMpeg4Ap = 5,
  kAvc = 6,
  kMpeg2 = 9,
  kMsAcm = 35,
};
}  // namespace codec

std::span<const CodecRow> CodecTable();
// The first row whose ID matches exactly, else the leading "UNKNOWN" row (type 0).
const CodecRow& FindCodec(const std::string& codecId);
// The first row of a codec type (type numbers shared by two IDs give the same tag).
const CodecRow& CodecOfType(uint32_t type);

}  // namespace mkv
