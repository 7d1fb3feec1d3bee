#include "platform/os/ProcessMemory.h"

#include <cstdlib>  // defines __GLIBC__ where glibc is the C library
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace VexaOS {

void ReturnFreeMemory() {
#if defined(__GLIBC__)
  // Beyond the heap's top, glibc also releases whole free pages inside every arena.
  malloc_trim(0);
#endif
}

void ShareOneHeapArena() {
#if defined(__GLIBC__)
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  if (std::getenv("MALLOC_ARENA_MAX") || (tunables && std::strstr(tunables, "arena_max"))) return;
  mallopt(M_ARENA_MAX, 1);
#endif
}

}  // namespace VexaOS
