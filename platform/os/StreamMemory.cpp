#include "platform/os/StreamMemory.h"

#include <sys/mman.h>

#include <cstdlib>

namespace VexaOS {

// Under AddressSanitizer the buffers come from the heap it watches, so that a pipe or sink
// stepping past its end is still caught there. Under ThreadSanitizer too: it resets the shadow
// of a whole mapping on every unmap, which made a stream's start and stop dozens of times
// slower than the stream itself.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
uint8_t* AllocateStreamMemory(size_t size) { return size ? static_cast<uint8_t*>(std::calloc(size, 1)) : nullptr; }
void FreeStreamMemory(uint8_t* memory, size_t) { std::free(memory); }
#else
uint8_t* AllocateStreamMemory(size_t size) {
  if (size == 0) return nullptr;
  void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return nullptr;
#if defined(MADV_HUGEPAGE)
  // Only advice: where large pages are off or short, the memory works in small ones.
  ::madvise(memory, size, MADV_HUGEPAGE);
#endif
  return static_cast<uint8_t*>(memory);
}

void FreeStreamMemory(uint8_t* memory, size_t size) {
  if (memory) ::munmap(memory, size);
}
#endif

}  // namespace VexaOS
