#include "platform/os/ProcessMemory.h"

#include <cstdlib>  // defines __GLIBC__ where glibc is the C library

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

}  // namespace VexaOS
