#include "pipeline/RingBuffer.h"

#include "platform/os/StreamMemory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

uint8_t* At(const RingBuffer& ring, uint32_t index) {
  return ring.storage + size_t(index) * ring.elementSize;
}

void Move(RingBuffer& ring, uint32_t to, uint32_t from, uint32_t count) {
  std::memmove(At(ring, to), At(ring, from), size_t(count) * ring.elementSize);
}

void Put(RingBuffer& ring, uint32_t to, const uint8_t* source, uint32_t count) {
  if (count) std::memcpy(At(ring, to), source, size_t(count) * ring.elementSize);
}

}  // namespace

RingBuffer* RingBufferCreate(uint32_t requestedSize, uint32_t chunk, uint32_t elementSize) {
  if (requestedSize < chunk || elementSize == 0) return nullptr;
  auto* ring = new (std::nothrow) RingBuffer{};
  if (!ring) return nullptr;
  ring->elementSize = elementSize;
  ring->base = chunk ? chunk - 1 : 0;
  ring->end = requestedSize + ring->base;
  ring->byteSize = ring->end * elementSize;
  ring->storage = VexaOS::AllocateStreamMemory(ring->byteSize ? ring->byteSize : 1);
  if (!ring->storage) {
    delete ring;
    return nullptr;
  }
  ring->read = ring->base;
  ring->write = ring->base;
  ring->pending = ring->base;
  return ring;
}

void RingBufferDestroy(RingBuffer* ring) {
  if (!ring) return;
  VexaOS::FreeStreamMemory(ring->storage, ring->byteSize ? ring->byteSize : 1);
  delete ring;
}

uint32_t RingHeld(const RingBuffer& ring) {
  uint32_t r = ring.read.load(std::memory_order_relaxed);
  uint32_t w = ring.write.load(std::memory_order_acquire);
  return w >= r ? w - r : (ring.end - ring.base) - r + w;
}

uint8_t* RingReadRequest(RingBuffer& ring, uint32_t n) {
  uint32_t r = ring.read.load(std::memory_order_relaxed);
  uint32_t w = ring.write.load(std::memory_order_acquire);
  if (w >= r) return w < r + n ? nullptr : At(ring, r);
  uint32_t tail = ring.end - r;
  if (n <= tail) return At(ring, r);
  if (tail > ring.base) return nullptr;
  // The data wraps: move the tail into the staging area so that it runs on into the ring.
  Move(ring, ring.base - tail, r, tail);
  r = ring.base - tail;
  ring.read.store(r, std::memory_order_release);
  return w < r + n ? nullptr : At(ring, r);
}

uint32_t RingReadConfirm(RingBuffer& ring, uint32_t n) {
  uint32_t r = ring.read.load(std::memory_order_relaxed);
  uint32_t w = ring.write.load(std::memory_order_acquire);
  uint32_t k;
  if (w >= r) {
    k = std::min(n, w - r);
    r += k;
  } else {
    uint32_t tail = ring.end - r;
    k = std::min(n, tail - ring.base + w);
    r = k <= tail ? r + k : ring.base + (k - tail);
  }
  ring.read.store(r, std::memory_order_release);
  return k;
}

uint32_t RingReadCopy(RingBuffer& ring, uint8_t* destination, uint32_t n) {
  uint8_t* source = RingReadRequest(ring, n);
  if (!source) return 0;
  if (n) std::memcpy(destination, source, size_t(n) * ring.elementSize);
  return RingReadConfirm(ring, n);
}

uint32_t RingFree(const RingBuffer& ring) {
  uint32_t w = ring.write.load(std::memory_order_relaxed);
  uint32_t r = ring.read.load(std::memory_order_acquire);
  if (w < r) return r - w;
  if (r <= ring.base) return ring.end - w;
  return ring.end - w + (r - ring.base);
}

uint8_t* RingWriteRequest(RingBuffer& ring, uint32_t n) {
  uint32_t w = ring.write.load(std::memory_order_relaxed);
  uint32_t r = ring.read.load(std::memory_order_acquire);
  if (w < r) {
    if (r - w > n) {
      ring.pending = w;
      return At(ring, w);
    }
    ring.pending = 0;
    return nullptr;
  }
  uint32_t tail = ring.end - w;
  uint32_t head = r > ring.base ? r - ring.base : 0;
  if (tail >= n) {
    ring.pending = w;
    return At(ring, w);
  }
  if (head + tail >= n && ring.base > tail) {
    // The caller writes across the end of the staging area into the start of the ring; the
    // confirm moves the part before base to the end of the ring.
    ring.pending = ring.base - tail;
    return At(ring, ring.pending);
  }
  ring.pending = 0;
  return nullptr;
}

uint32_t RingWriteConfirm(RingBuffer& ring, uint32_t n) {
  uint32_t w = ring.write.load(std::memory_order_relaxed);
  uint32_t p = ring.pending;
  if (p == w) {
    w += n;
  } else if (p + n >= ring.base) {
    Move(ring, w, p, ring.base - p);
    w = p + n;
  } else {
    Move(ring, w, p, n);
    w += n;
  }
  ring.write.store(w, std::memory_order_release);
  return n;
}

uint32_t RingWriteCopy(RingBuffer& ring, const uint8_t* source, uint32_t n) {
  uint32_t w = ring.write.load(std::memory_order_relaxed);
  uint32_t r = ring.read.load(std::memory_order_acquire);
  uint32_t k;
  if (w < r) {
    k = std::min(n, r - w - 1);
    Put(ring, w, source, k);
    w += k;
  } else {
    uint32_t tail = ring.end - w;
    uint32_t head = r > ring.base ? r - ring.base - 1 : 0;
    k = std::min(tail + head, n);
    if (k > tail) {
      Put(ring, w, source, tail);
      Put(ring, ring.base, source + size_t(tail) * ring.elementSize, k - tail);
      w = ring.base + (k - tail);
    } else {
      Put(ring, w, source, k);
      w += k;
    }
  }
  ring.write.store(w, std::memory_order_release);
  return k;
}
