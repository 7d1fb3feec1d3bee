// What a memory connection carries for its receiver about the stream it delivers: fourteen
// words filled by the demultiplexer; the pointer word is pointer-sized, the double and the
// start time span two words each.
#pragma once

#include <cstddef>
#include <cstdint>

struct StreamFormatRecord {
  uint32_t word0;
  uint32_t height;          // word 1
  uint32_t width;           // word 2
  uint32_t word3;
  double frameRate;         // words 4 and 5
  uint32_t sampleRate;      // word 6
  uint32_t byteRate;        // word 7
  int32_t channels;         // word 8
  uint8_t* privateData;     // word 9
  uint32_t privateSize;     // word 10
  uint32_t word11;
  int64_t startTime;        // words 12 and 13: 27 MHz start of the sample being delivered
};
static_assert(offsetof(StreamFormatRecord, height) == 4);
static_assert(offsetof(StreamFormatRecord, frameRate) == 16);
static_assert(offsetof(StreamFormatRecord, channels) == 32);
// Fourteen 4-byte words (56 bytes) on a 32-bit target; with 8-byte pointers the pointer word
// grows and moves to the next 8-byte boundary, and so do the words after it.
constexpr bool kStreamFormatWords32 = sizeof(void*) == 4;
static_assert(offsetof(StreamFormatRecord, privateData) == (kStreamFormatWords32 ? 36 : 40));
static_assert(offsetof(StreamFormatRecord, privateSize) == (kStreamFormatWords32 ? 40 : 48));
static_assert(offsetof(StreamFormatRecord, startTime) == (kStreamFormatWords32 ? 48 : 56));
static_assert(sizeof(StreamFormatRecord) == (kStreamFormatWords32 ? 56 : 64));
