#include "framework/FrameworkMemory.h"

#include <cstdlib>

namespace vmf {

void* Allocate(VexaOS::MemoryArena* allocator, size_t size) {
  if (allocator != nullptr) return nullptr;  // arena allocation joins with the platform's arena
  return std::calloc(1, size);
}

void Free(VexaOS::MemoryArena* allocator, void* memory) {
  if (memory == nullptr || allocator != nullptr) return;
  std::free(memory);
}

}  // namespace vmf
