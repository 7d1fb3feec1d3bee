// Replaces operator new for the test program that includes this header (in ONE of its files):
// while the calling thread watches, its C++ heap allocations are counted, and from the n-th on
// they fail. Other threads allocate as usual.
// (The replacement pairs malloc with free, which g++ 12 cannot see through once it inlines them;
// the array forms, left as they are, allocate through these.)
#pragma once
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <cstdlib>
#include <new>

namespace AllocationGate {

inline thread_local bool tWatching = false;
inline thread_local long tCount = 0;
inline thread_local long tFailFrom = -1;  // -1: none fails

// Starts counting this thread's allocations from zero; those from number `failFrom` on fail.
inline void Watch(long failFrom = -1) {
  tCount = 0;
  tFailFrom = failFrom;
  tWatching = true;
}

// Stops watching; answers how many allocations were asked for, failed ones included.
inline long Stop() {
  tWatching = false;
  return tCount;
}

}  // namespace AllocationGate

void* operator new(size_t size, const std::nothrow_t&) noexcept {
  using namespace AllocationGate;
  if (tWatching && tCount++ >= tFailFrom && tFailFrom >= 0) return nullptr;
  return std::malloc(size ? size : 1);
}
void* operator new(size_t size) {
  if (void* block = operator new(size, std::nothrow)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
