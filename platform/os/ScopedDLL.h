// Owner of one loaded shared library: unloaded exactly once, when its owner goes. Code above
// the platform loads libraries through it (the multiplexer library, a hosted plug-in) instead
// of pairing the system's load and unload calls by hand.
#pragma once

#include <cstdint>
#include <string>

namespace VexaOS {

class ScopedDLL {
 public:
  ScopedDLL() = default;
  ~ScopedDLL() { Reset(); }
  ScopedDLL(const ScopedDLL&) = delete;
  ScopedDLL& operator=(const ScopedDLL&) = delete;
  ScopedDLL(ScopedDLL&& other) noexcept : m_handle(other.m_handle) { other.m_handle = nullptr; }
  ScopedDLL& operator=(ScopedDLL&& other) noexcept {
    if (this != &other) {
      Reset();
      m_handle = other.m_handle;
      other.m_handle = nullptr;
    }
    return *this;
  }

  // Loads `path` (UTF-8; a bare name is searched for as the system's loader does), letting go
  // of the library held before. False when it cannot be loaded; nothing is held then, and
  // `error`, when given, receives the system's reason.
  bool Load(const char* path, std::string* error = nullptr);
  // The address of the exported symbol `name`; null when absent or nothing is loaded.
  void* Symbol(const char* name) const;
  // An entry point of a library that exports by ordinal: on Windows the ordinal finds it (the
  // export may have no name); elsewhere the name it is exported under.
  void* Entry(uint16_t ordinal, const char* name) const;
  bool IsLoaded() const { return m_handle != nullptr; }
  // Unloads the library held, if any.
  void Reset();

 private:
  void* m_handle = nullptr;
};

// The folder of the library or program that holds `address` (a function of it), with its
// trailing separator, in UTF-8; empty when the system cannot tell.
std::string ModuleDirectoryOf(const void* address);

}  // namespace VexaOS
