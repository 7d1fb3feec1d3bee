// operator new replaced for a test program of its own: it counts the allocations of the thread
// that asked for counting, and fails the allocation a test plans to fail. One file of the
// program includes this. (The replacement pairs malloc with free, which g++ 12 cannot see once
// it inlines them. The array forms, left as they are, allocate through these.)
#pragma once
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <atomic>
#include <cstdlib>
#include <new>

inline thread_local bool gCountAllocations = false;
inline std::atomic<int> gAllocations{0};
inline long gAllocationsLeft = -1;  // allocations that still succeed; -1: no failure planned
inline bool gAllocationFailed = false;

void* operator new(size_t size, const std::nothrow_t&) noexcept {
  if (gCountAllocations) gAllocations.fetch_add(1);
  if (gAllocationsLeft == 0) {
    gAllocationFailed = true;
    return nullptr;
  }
  if (gAllocationsLeft > 0) --gAllocationsLeft;
  return std::malloc(size ? size : 1);
}
void* operator new(size_t size) {
  if (void* block = operator new(size, std::nothrow)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
