// Module 14 of the media framework: SubRip files behind the 35-slot entry table. The whole file
// is loaded at open; each block is one cue, either its UTF-8 text (after
// VMF_QID_SET_SRT_OUTPUT_TEXT) or, by default, a bitmap subtitle packet drawn by the subtitle
// rasteriser for the frame size of the stream's SubtitleFormat. The descriptor is
// SrtModuleDescriptor() (framework/ModuleTable.h).
//
// Choices made where the format leaves room:
// - The format record's sub-type names the output: "VESB" while cues come out as bitmaps
//   (after open), "VETX" while they come out as text.
// - Switching the output reloads the file into a new reader; the old one is released.
// - A bitmap block that does not fit the caller's buffer (after the block's enlarge callback,
//   when it has one) answers VMF_ERR_BLOCK_BUFFER_TOO_SMALL with the size needed, and the cue
//   is handed out again by the next read. A frame size outside 1..kSrtMaxFrameSide, or one no
//   display area is known for, answers VMF_ERR_BLOCK_READ_FAILURE.
// - A text block asks the block's enlarge callback, when it has one, for the 1000 bytes a cue
//   may take; a buffer that stays smaller answers VMF_ERR_BLOCK_BUFFER_TOO_SMALL with the size
//   needed and keeps the cue for the next read, as a bitmap block does (answering 0 would hand
//   the caller's old bytes out as the cue and lose it).
// - A cue that draws nothing (only tags) still makes a packet: an empty picture with the cue's
//   times, which clears the screen at the right moment.
// - The stream counts: one subtitle stream, no video or audio stream (so a container of
//   several files can sum its counts over an SRT file too).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "framework/ModuleTable.h"
#include "framework/srt/SrtReader.h"
#include "framework/subtitles/SubtitleRasteriser.h"

namespace srt {

// What VMF_QID_SUB_STREAM_FORMAT reads and writes.
struct SubtitleFormat {
  uint8_t reserved[12];
  int32_t width;          // frame width the cues are drawn for
  int32_t height;
  uint16_t bitsPerPixel;
  uint16_t reserved2;
  char codec[4];          // "VEXA"
  char subType[4];        // "VESB" bitmap output, "VETX" text output
  int32_t bitmapBytes;    // width x height / 2
};
static_assert(sizeof(SubtitleFormat) == 36);
static_assert(offsetof(SubtitleFormat, width) == 12);
static_assert(offsetof(SubtitleFormat, height) == 16);
static_assert(offsetof(SubtitleFormat, bitsPerPixel) == 20);
static_assert(offsetof(SubtitleFormat, codec) == 24);
static_assert(offsetof(SubtitleFormat, subType) == 28);
static_assert(offsetof(SubtitleFormat, bitmapBytes) == 32);

inline constexpr int32_t kSrtFrameWidth = 640;   // after open
inline constexpr int32_t kSrtFrameHeight = 480;
inline constexpr int32_t kSrtMaxFrameSide = 4096;

// The module handle: one opened file.
struct SrtModuleHandle {
  vmf::SubtitleRasteriserPtr rasteriser;
  std::u16string fileName;
  bool textOutput = false;
  std::unique_ptr<CSRTReader> reader;
  uint16_t activeStream = 0;
  SubtitleFormat format{};
  VexaOS::MemoryArena* allocator = nullptr;  // the handle's own memory came from it
};

// Draws the next cue into `block` as a bitmap subtitle packet (SrtBitmap.cpp).
int32_t ReadBitmapBlock(SrtModuleHandle& handle, VmfBlock* block);

}  // namespace srt
