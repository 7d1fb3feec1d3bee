// Keeps exceptions from crossing a module's entry table: an allocation that fails anywhere
// below an entry becomes the framework's out-of-memory result there, anything else thrown an
// unexpected error. A table names Guarded<Entry>::Call in the slot instead of Entry.
#pragma once

#include <cstdint>
#include <new>

#include "framework/VmfErrors.h"

namespace vmf {

template <auto Entry>
struct Guarded;
template <typename... Args, int32_t (*Entry)(Args...)>
struct Guarded<Entry> {
  static int32_t Call(Args... args) noexcept {
    try {
      return Entry(args...);
    } catch (const std::bad_alloc&) {
      return VMF_OUT_OF_MEMORY;
    } catch (...) {
      return VMF_ERR_UNEXPECTED_ERROR;
    }
  }
};

}  // namespace vmf
