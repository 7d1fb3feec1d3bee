#pragma once
// The 48-byte stream format descriptions the reader answers for video and audio tracks.
#include <cstddef>
#include <cstdint>

#include "framework/matroska/MkvTrack.h"

namespace mkv {

struct MkvVideoFormat {
  uint32_t reserved0;
  uint32_t frameRateNumerator;
  uint32_t frameRateDenominator;
  uint32_t width;
  uint32_t height;
  uint16_t bitsPerPixel;
  uint16_t reserved22;
  char fourcc[4];
  char fourcc2[4];
  uint32_t imageSize;
  uint32_t interlaced;
  uint32_t displayWidth;
  uint32_t displayHeight;
};
static_assert(sizeof(MkvVideoFormat) == 48);
static_assert(offsetof(MkvVideoFormat, frameRateNumerator) == 4);
static_assert(offsetof(MkvVideoFormat, frameRateDenominator) == 8);
static_assert(offsetof(MkvVideoFormat, width) == 12);
static_assert(offsetof(MkvVideoFormat, height) == 16);
static_assert(offsetof(MkvVideoFormat, bitsPerPixel) == 20);
static_assert(offsetof(MkvVideoFormat, fourcc) == 24);
static_assert(offsetof(MkvVideoFormat, fourcc2) == 28);
static_assert(offsetof(MkvVideoFormat, imageSize) == 32);
static_assert(offsetof(MkvVideoFormat, interlaced) == 36);
static_assert(offsetof(MkvVideoFormat, displayWidth) == 40);
static_assert(offsetof(MkvVideoFormat, displayHeight) == 44);

constexpr size_t kAudioExtraMax = 21;

#pragma pack(push, 2)
struct MkvAudioFormat {
  uint16_t recordKind;  // always 17
  uint16_t formatTag;
  uint16_t channels;
  uint16_t reserved6;
  uint32_t samplesPerSecond;
  uint32_t averageBytesPerSecond;
  uint16_t blockAlign;
  uint16_t bitsPerSample;
  uint16_t reserved20;
  uint16_t extraSize;
  uint8_t extra[24];
};
#pragma pack(pop)
static_assert(sizeof(MkvAudioFormat) == 48);
static_assert(offsetof(MkvAudioFormat, formatTag) == 2);
static_assert(offsetof(MkvAudioFormat, channels) == 4);
static_assert(offsetof(MkvAudioFormat, samplesPerSecond) == 8);
static_assert(offsetof(MkvAudioFormat, averageBytesPerSecond) == 12);
static_assert(offsetof(MkvAudioFormat, blockAlign) == 16);
static_assert(offsetof(MkvAudioFormat, bitsPerSample) == 18);
static_assert(offsetof(MkvAudioFormat, extraSize) == 22);
static_assert(offsetof(MkvAudioFormat, extra) == 24);

constexpr size_t kFormatSize = 48;

// Fill `out` (48 bytes). Video: VMF_ERR_CODEC_UNSUPPORTED for a codec the system cannot use,
// VMF_FAILED without picture size or for an AVC profile it does not know.
int32_t DescribeVideo(const MkvTrack& track, uint8_t* out);
int32_t DescribeAudio(const MkvTrack& track, uint8_t* out);

}  // namespace mkv
