#include "pipeline/PipeBuffer.h"

#include <chrono>
#include <cstring>
#include <new>

namespace {

PipeBuffer* Owner(bufstream* face) { return reinterpret_cast<PipeBuffer*>(face->words[BufWord(13)]); }
RingBuffer& Ring(bufstream* face) { return *Owner(face)->ring; }

void NoOperation() {}

// A reading step consumed bytes: a writer waiting for room may go on.
void WakeWriter(PipeBuffer& pipe) {
  std::lock_guard held(pipe.timing->lock);
  if (pipe.timing->writerWaiting) pipe.timing->consumed.notify_all();
}

uint32_t ReadUsable(bufstream* face) { return RingHeld(Ring(face)); }
uint8_t* ReadRequest(bufstream* face, uint32_t n) { return RingReadRequest(Ring(face), n); }

uint32_t ReadConfirm(bufstream* face, uint32_t n) {
  uint32_t taken = RingReadConfirm(Ring(face), n);
  if (taken) WakeWriter(*Owner(face));
  return taken;
}

uint32_t ReadCopy(bufstream* face, uint8_t* destination, uint32_t n) {
  uint32_t taken = RingReadCopy(Ring(face), destination, n);
  if (taken) WakeWriter(*Owner(face));
  return taken;
}

uint32_t ChunkSize(bufstream* face) { return Ring(face).base; }

int32_t TakeTiming(PipeBuffer& pipe, void* data, uint32_t size) {
  if (!data || size < kSampleTimingRecordSize) return 1;
  std::lock_guard held(pipe.timing->lock);
  if (pipe.timing->records.empty()) return 1;
  std::memcpy(data, &pipe.timing->records.front(), kSampleTimingRecordSize);
  pipe.timing->records.pop_front();
  return 0;
}

int32_t ReadAuxInfo(bufstream* face, uint32_t, uint32_t id, void* data, uint32_t size) {
  PipeBuffer& pipe = *Owner(face);
  if (id == kAuxTakeSampleTiming) return TakeTiming(pipe, data, size);
  if (id == kAuxReaderClosed) {
    std::lock_guard held(pipe.timing->lock);
    pipe.timing->closed = true;
    pipe.timing->consumed.notify_all();
  }
  return 0;
}

uint32_t WriteUsable(bufstream* face) { return RingFree(Ring(face)); }
uint8_t* WriteRequest(bufstream* face, uint32_t n) { return RingWriteRequest(Ring(face), n); }

uint32_t WriteConfirm(bufstream* face, uint32_t n) {
  uint32_t put = RingWriteConfirm(Ring(face), n);
  Owner(face)->timing->bytesSinceRecord += put;
  return put;
}

uint32_t WriteCopy(bufstream* face, uint8_t* source, uint32_t n) {
  uint32_t put = RingWriteCopy(Ring(face), source, n);
  Owner(face)->timing->bytesSinceRecord += put;
  return put;
}

// A timing record closes the sample written since the previous one: it joins the side queue
// with the byte count the stream really holds for that sample.
int32_t WriteAuxInfo(bufstream* face, uint32_t offset, uint32_t id, void* data, uint32_t size) {
  PipeBuffer& pipe = *Owner(face);
  if (id == kAuxSampleTiming && data && size >= kSampleTimingRecordSize) {
    SampleTimingRecord record;
    std::memcpy(&record, data, sizeof record);
    record.size = uint32_t(pipe.timing->bytesSinceRecord);
    pipe.timing->bytesSinceRecord = 0;
    std::lock_guard held(pipe.timing->lock);
    if (!pipe.timing->closed) pipe.timing->records.push_back(record);
  }
  return pipe.readFace.auxInfo(&pipe.readFace, offset, id == kAuxTakeSampleTiming ? 0 : id, data, size);
}

void FillFace(bufstream& face, PipeBuffer* pipe, bool writing) {
  face = bufstream{};
  face.usableBytes = writing ? WriteUsable : ReadUsable;
  face.request = writing ? WriteRequest : ReadRequest;
  face.confirm = writing ? WriteConfirm : ReadConfirm;
  face.copyBytes = writing ? WriteCopy : ReadCopy;
  face.chunkSize = ChunkSize;
  face.auxInfo = writing ? WriteAuxInfo : ReadAuxInfo;
  face.words[BufWord(7)] = reinterpret_cast<uintptr_t>(&NoOperation);
  face.words[BufWord(11)] = writing ? 1 : 0;
  face.words[BufWord(13)] = reinterpret_cast<uintptr_t>(pipe);
}

}  // namespace

PipeBuffer* PipeBufferCreate(uint32_t requestedSize, uint32_t chunk, uint32_t elementSize) {
  auto* pipe = new (std::nothrow) PipeBuffer{};
  if (!pipe) return nullptr;
  pipe->ring = RingBufferCreate(requestedSize, chunk, elementSize);
  pipe->timing = new (std::nothrow) PipeTimingQueue;
  if (!pipe->ring || !pipe->timing) {
    PipeBufferDestroy(pipe);
    return nullptr;
  }
  FillFace(pipe->writeFace, pipe, true);
  FillFace(pipe->readFace, pipe, false);
  return pipe;
}

void PipeBufferDestroy(PipeBuffer* pipe) {
  if (!pipe) return;
  RingBufferDestroy(pipe->ring);
  delete pipe->timing;
  delete pipe;
}

void PipeBufferWaitForRoom(PipeBuffer& pipe, int32_t timeoutMs) {
  std::unique_lock held(pipe.timing->lock);
  if (pipe.timing->closed) return;
  pipe.timing->writerWaiting = true;
  pipe.timing->consumed.wait_for(held, std::chrono::milliseconds(timeoutMs));
  pipe.timing->writerWaiting = false;
}

bool PipeBufferClosed(PipeBuffer& pipe) {
  std::lock_guard held(pipe.timing->lock);
  return pipe.timing->closed;
}

size_t PipeBufferQueuedRecords(PipeBuffer& pipe) {
  std::lock_guard held(pipe.timing->lock);
  return pipe.timing->records.size();
}
