#include "platform/os/ProcessMemory.h"

#include <windows.h>

#include <malloc.h>

namespace VexaOS {

void ReturnFreeMemory() {
  _heapmin();  // the C run-time's heap
  ::HeapCompact(::GetProcessHeap(), 0);
}

// One heap serves every thread of a Windows process already.
void ShareOneHeapArena() {}

}  // namespace VexaOS
