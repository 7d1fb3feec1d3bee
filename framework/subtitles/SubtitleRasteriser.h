// The subtitle rasteriser: turns one text cue (UTF-8 text with optional i/b/u/s/font tags, start
// and stop in 100-ns units) into a 4-bit bitmap drawn with FreeType, and a bitmap into a
// subtitle packet: a header carrying the times as text, size, position and a four-colour
// palette, then two interlaced fields of 2-bit run-length codes. The SRT read module holds one
// context per open file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace vmf {

// Results of the rasteriser's operations.
enum SubtitleResult : int32_t {
  kSubtitleOk = 0,
  kSubtitleFontFailed = -1,     // FreeType could not load the font or a glyph
  kSubtitleBadArgument = 3,     // a null context, out bitmap or check pointer
  kSubtitleNoMemory = 4,        // an allocation failed
  kSubtitlePacketTooLong = 5,   // the packet's length does not fit its 16-bit length field
  kSubtitleNoPreset = 6,        // no display area is known for the frame size
};

// The packet header, and the input of packet building. Integers little-endian, no padding.
#pragma pack(push, 1)
struct SubtitleRecord {
  char timeText[27];            // "[HH:MM:SS.mmm-HH:MM:SS.mmm]", no terminating NUL
  uint16_t width;
  uint16_t height;
  uint16_t x1;
  uint16_t y1;
  uint16_t x2;
  uint16_t y2;
  uint16_t secondFieldOffset;   // 0 when beyond 65,535
  uint8_t colours[12];          // three bytes for each of the pixel values 0 to 3
};
#pragma pack(pop)
static_assert(sizeof(SubtitleRecord) == 53);
static_assert(offsetof(SubtitleRecord, width) == 27);
static_assert(offsetof(SubtitleRecord, secondFieldOffset) == 39);
static_assert(offsetof(SubtitleRecord, colours) == 41);

// The display areas a packet may be placed in.
enum class SubtitlePreset : int32_t { kSmall, kMedium, kLarge };

// The preset for a video frame size; false when no area is known for it.
bool PickSubtitlePreset(int32_t frameWidth, int32_t frameHeight, SubtitlePreset* preset);

struct SubtitleRasteriser;  // the context
void DestroySubtitleRasteriser(SubtitleRasteriser* context);
struct SubtitleRasteriserDeleter {
  void operator()(SubtitleRasteriser* context) const { DestroySubtitleRasteriser(context); }
};
using SubtitleRasteriserPtr = std::unique_ptr<SubtitleRasteriser, SubtitleRasteriserDeleter>;

// Memory the rasteriser hands out (bitmaps, packets) is malloc'ed and released with free.
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using SubtitleBytes = std::unique_ptr<uint8_t, FreeDeleter>;

// A null path means the default font. kSubtitleOk or kSubtitleNoMemory.
int32_t CreateSubtitleRasteriser(const char16_t* fontPath, SubtitleRasteriserPtr* context);
// Replaces the stored font path (null: the default). kSubtitleOk or kSubtitleNoMemory.
int32_t SetSubtitleFont(SubtitleRasteriser* context, const char16_t* fontPath);

// Draws `cueText` for a frame of *width x *height pixels. On success *bitmap holds
// *width x *height 4-bit pixels (left pixel in the high nibble, bottom row first, rows packed)
// with *width and *height now the bitmap's size, and timeText (at least 28 bytes) the
// NUL-terminated time text. `check` must not be null and is not written.
int32_t RenderSubtitle(SubtitleRasteriser* context, int32_t frameWidth, int32_t frameHeight,
                       uint32_t* width, uint32_t* height, SubtitleBytes* bitmap,
                       const void* check, char* timeText, const char* cueText, uint64_t start,
                       uint64_t stop);

// Builds the packet for `bitmap` (record.width x record.height pixels) into a malloc'ed
// *packet of *length bytes. positionFlag true centres it at the bottom of the preset's area,
// scaling it down when it does not fit. kSubtitlePacketTooLong when the length cannot be
// expressed in 16 bits (nothing is handed out then).
int32_t BuildSubtitlePacket(SubtitlePreset preset, const uint8_t* bitmap,
                            const SubtitleRecord& record, uint16_t* length, SubtitleBytes* packet,
                            bool positionFlag);

// The colours of cue packets: clear and outline black, text near white.
inline constexpr uint8_t kCuePacketColours[12] = {0, 0, 0, 0, 0, 0, 254, 254, 254, 254, 254, 254};

// One cue as a bitmap subtitle stream hands it out: drawn for the frame, built for `preset` with
// the cue colours and placed at the bottom centre. `bitmap`, when given, keeps the drawn bitmap
// (its size in *width x *height). The rasteriser's results.
int32_t RenderCuePacket(SubtitleRasteriser* context, uint32_t frameWidth, uint32_t frameHeight,
                        const char* cueText, uint64_t start, uint64_t stop, SubtitlePreset preset,
                        SubtitleBytes* packet, uint16_t* length, SubtitleBytes* bitmap = nullptr,
                        uint32_t* width = nullptr, uint32_t* height = nullptr);

}  // namespace vmf
