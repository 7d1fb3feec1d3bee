// Carries one elementary stream from its encoder node to the multiplexer library: a ring with a
// writing face and a reading face. One thread writes, one reads; the ring needs no lock.
// Beside the bytes it keeps, in order, every sample timing record written into the writing
// face, each with the number of bytes its sample really has in the stream, so that the reader
// can cut the stream into samples with their source times (kAuxTakeSampleTiming).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "pipeline/RingBuffer.h"
#include "interfaces/SampleTimingRecord.h"
#include "interfaces/bufstream.h"

// The side queue of timing records and the writer's wait for room.
struct PipeTimingQueue {
  std::mutex lock;
  std::condition_variable consumed;  // the reader took bytes, or closed
  std::deque<SampleTimingRecord> records;
  uint64_t bytesSinceRecord = 0;     // writer only
  bool writerWaiting = false;
  bool closed = false;
};

struct PipeBuffer {
  bufstream writeFace;
  bufstream readFace;
  RingBuffer* ring;
  PipeTimingQueue* timing;
};
static_assert(offsetof(PipeBuffer, readFace) == sizeof(bufstream));
static_assert(offsetof(PipeBuffer, ring) == 2 * sizeof(bufstream));

// Null when the record or its ring cannot be made (size below chunk, memory short).
PipeBuffer* PipeBufferCreate(uint32_t requestedSize, uint32_t chunk, uint32_t elementSize);
void PipeBufferDestroy(PipeBuffer* pipe);

// Writer side: waits until the reader has consumed something, closed, or the time is up.
void PipeBufferWaitForRoom(PipeBuffer& pipe, int32_t timeoutMs);
bool PipeBufferClosed(PipeBuffer& pipe);
size_t PipeBufferQueuedRecords(PipeBuffer& pipe);

struct PipeBufferDeleter {
  void operator()(PipeBuffer* pipe) const { PipeBufferDestroy(pipe); }
};
using PipeBufferPtr = std::unique_ptr<PipeBuffer, PipeBufferDeleter>;
