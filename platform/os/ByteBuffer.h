// Bytes that grow without being written first: a buffer whose every new byte its writer fills
// at once (a packet built byte by byte, a read into the buffer's end) need not be zeroed before.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

template <class T>
struct UninitialisedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  template <class U>
  void construct(U*) noexcept {}
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using ByteBuffer = std::vector<uint8_t, UninitialisedAllocator<uint8_t>>;
