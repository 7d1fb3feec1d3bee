// Owner of one loaded shared library: unloaded exactly once, when its owner goes. Code above
// the platform loads libraries through it (the multiplexer library, a hosted plug-in) instead
// of pairing dlopen and dlclose by hand.
#pragma once

namespace VexaOS {

class ScopedDLL {
 public:
  ScopedDLL() = default;
  ~ScopedDLL() { Reset(); }
  ScopedDLL(const ScopedDLL&) = delete;
  ScopedDLL& operator=(const ScopedDLL&) = delete;
  ScopedDLL(ScopedDLL&& other) noexcept : m_handle(other.m_handle) { other.m_handle = nullptr; }
  ScopedDLL& operator=(ScopedDLL&& other) noexcept;

  // Loads `path` (a name without a slash is searched for as the dynamic loader does), letting go
  // of the library held before. False when it cannot be loaded; nothing is held then.
  bool Load(const char* path);
  // The address of the exported symbol `name`; null when absent or nothing is loaded.
  void* Symbol(const char* name) const;
  bool IsLoaded() const { return m_handle != nullptr; }
  // Unloads the library held, if any.
  void Reset();

 private:
  void* m_handle = nullptr;
};

}  // namespace VexaOS
