#include "platform/os/StreamMemory.h"

#include <windows.h>

namespace VexaOS {

uint8_t* AllocateStreamMemory(size_t size) {
  if (size == 0) return nullptr;
  // Committed pages read as zero.
  return static_cast<uint8_t*>(::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

void FreeStreamMemory(uint8_t* memory, size_t) {
  if (memory) ::VirtualFree(memory, 0, MEM_RELEASE);
}

}  // namespace VexaOS
