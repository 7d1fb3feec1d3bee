// Allocation for the framework's own records: from the caller's arena when one is given, else
// from the process heap.
#pragma once

#include <cstddef>

#include "framework/VmfRecords.h"

namespace vmf {

// Zero-filled memory of `size` bytes, or null when it cannot be had.
void* Allocate(VexaOS::MemoryArena* allocator, size_t size);
// Returns memory taken by Allocate with the same allocator. Null does nothing.
void Free(VexaOS::MemoryArena* allocator, void* memory);

}  // namespace vmf
