// Memory for a buffer that a stream fills and drains through its whole life (a pipe's ring, the
// sink): mapped straight from the system rather than taken from the heap, in large pages where
// the system allows them, so that filling it costs a few page faults rather than one per 4 KiB,
// and unmapped whole when the buffer goes, so that none of it stays behind in the heap. On
// Windows the memory is reserved and committed with VirtualAlloc, in small pages (large ones
// need a privilege a server does not hold).
#pragma once

#include <cstddef>
#include <cstdint>

namespace VexaOS {

// Null when memory is short. The bytes start out zero.
uint8_t* AllocateStreamMemory(size_t size);
// Takes the size given at allocation; null is ignored.
void FreeStreamMemory(uint8_t* memory, size_t size);

// Frees what a unique_ptr holds: stream memory of `mappedSize` bytes, or, with no size, a heap
// array.
struct StreamMemoryRelease {
  size_t mappedSize = 0;
  void operator()(uint8_t* memory) const {
    if (mappedSize) FreeStreamMemory(memory, mappedSize);
    else delete[] memory;
  }
};

}  // namespace VexaOS
