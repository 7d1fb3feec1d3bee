// One elementary stream entering the multiplexer: reads its bytes and timing records from the
// reading face, cuts the bytes into samples, gives each its presentation time (source time
// plus the constant offset) and decode time, and tells time bases apart after a jump.
#pragma once

#include <cstdint>
#include <deque>
#include <queue>
#include <vector>

#include "platform/os/ByteBuffer.h"
#include "mux/H264AccessUnit.h"
#include "interfaces/SampleTimingRecord.h"
#include "interfaces/bufstream.h"

struct MuxSample {
  std::vector<uint8_t> bytes;
  bool hasPts = false;
  int64_t pts = 0;       // 90 kHz
  int64_t dts = 0;       // 90 kHz; equals pts for audio
  uint32_t epoch = 0;    // time base: grows by one at every jump of the source times
  bool randomAccess = false;
};

struct MuxInputConfig {
  int64_t offset90;        // added to every source time
  int64_t jumpThreshold90; // a larger step of the source times starts a new time base
  size_t reorderWindow;    // access units read ahead before a decode time is chosen
  size_t bufferCap;        // bytes held in memory before reading pauses
};

struct MuxInput {
  bufstream* face = nullptr;
  int32_t code = 0;
  bool video = false;
  MuxInputConfig config{};

  ByteBuffer bytes;                          // read, not yet cut into samples
  size_t bytesFront = 0;
  std::deque<SampleTimingRecord> records;    // taken, their bytes not all read yet
  std::deque<MuxSample> reorder;             // H.264 pictures waiting for a decode time
  std::priority_queue<int64_t, std::vector<int64_t>, std::greater<int64_t>> ptsHeap;
  std::deque<MuxSample> ready;               // samples with both times, in decode order
  size_t readyBytes = 0;

  H264AccessUnitContext h264;
  uint32_t epoch = 0;
  bool seenTime = false;
  int64_t lastPts = 0;
  int64_t maxPts = 0;                        // latest presentation time of this time base
  bool delayKnown = false;
  int64_t delay = 0;                         // presentation minus decode, in the sorted order
  bool dtsSeen = false;
  int64_t lastDts = 0;
  uint64_t bytesIn = 0;
};

// Reads what the face holds and cuts complete samples. Answers true when anything moved.
bool MuxInputPump(MuxInput& input);
// The writer is done and the face is empty: every sample left gets its decode time.
void MuxInputEnd(MuxInput& input);
bool MuxInputFull(const MuxInput& input);
MuxSample MuxInputPop(MuxInput& input);
