#include "framework/FrameworkMemory.h"

#include <cstring>

#include "platform/os/MemoryArena.h"

namespace vmf {

void* Allocate(VexaOS::MemoryArena* allocator, size_t size) {
  void* memory = VexaOS::ArenaOrHeapAlloc(allocator, size);
  if (memory != nullptr) std::memset(memory, 0, size);
  return memory;
}

void Free(VexaOS::MemoryArena* allocator, void* memory) {
  if (memory != nullptr) VexaOS::ArenaOrHeapFree(allocator, memory);
}

}  // namespace vmf
