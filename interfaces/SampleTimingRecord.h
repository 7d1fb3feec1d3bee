// The 72-byte record that follows each sample through the pipeline (auxInfo kAuxSampleTiming).
#pragma once

#include <cstddef>
#include <cstdint>

struct SampleTimingRecord {
  int64_t start;        // start time in 27 MHz ticks
  int64_t stop;         // stop time in 27 MHz ticks
  uint32_t size;        // bytes of the sample
  uint8_t present;      // always 1
  uint8_t startValid;   // 1 when start is not negative
  uint8_t reserved[50];
};
static_assert(sizeof(SampleTimingRecord) == 72);
static_assert(offsetof(SampleTimingRecord, stop) == 8);
static_assert(offsetof(SampleTimingRecord, size) == 16);
static_assert(offsetof(SampleTimingRecord, present) == 20);
static_assert(offsetof(SampleTimingRecord, startValid) == 21);

constexpr uint32_t kSampleTimingRecordSize = sizeof(SampleTimingRecord);
