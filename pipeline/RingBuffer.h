// A single-producer, single-consumer ring preceded by a staging area: indices below base are
// the staging area, into which the piece of a request that lies before the wrap is copied so
// that every request can be answered with contiguous memory. Indices are in elements.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct RingBuffer {
  uint8_t* storage;
  uint32_t byteSize;
  uint32_t elementSize;
  uint32_t base;                 // chunk - 1 (0 without a chunk)
  std::atomic<uint32_t> read;    // changed by the reader only
  std::atomic<uint32_t> write;   // changed by the writer only
  uint32_t end;                  // requested size + base
  uint32_t pending;              // start of the writer's last request
};
static_assert(sizeof(std::atomic<uint32_t>) == 4 && std::atomic<uint32_t>::is_always_lock_free);
static_assert(offsetof(RingBuffer, byteSize) == sizeof(void*));
static_assert(offsetof(RingBuffer, read) == sizeof(void*) + 12);
static_assert(offsetof(RingBuffer, pending) == sizeof(void*) + 24);

// Null when the requested size is below the chunk or memory is short.
RingBuffer* RingBufferCreate(uint32_t requestedSize, uint32_t chunk, uint32_t elementSize);
void RingBufferDestroy(RingBuffer* ring);

// Reading side.
uint32_t RingHeld(const RingBuffer& ring);
uint8_t* RingReadRequest(RingBuffer& ring, uint32_t count);
uint32_t RingReadConfirm(RingBuffer& ring, uint32_t count);
uint32_t RingReadCopy(RingBuffer& ring, uint8_t* destination, uint32_t count);

// Writing side. RingWriteCopy keeps one element free before the read index; RingFree and
// RingWriteRequest count without that gap.
uint32_t RingFree(const RingBuffer& ring);
uint8_t* RingWriteRequest(RingBuffer& ring, uint32_t count);
uint32_t RingWriteConfirm(RingBuffer& ring, uint32_t count);
uint32_t RingWriteCopy(RingBuffer& ring, const uint8_t* source, uint32_t count);
