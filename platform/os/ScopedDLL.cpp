#include "platform/os/ScopedDLL.h"

#include <dlfcn.h>

namespace VexaOS {

ScopedDLL& ScopedDLL::operator=(ScopedDLL&& other) noexcept {
  if (this != &other) {
    Reset();
    m_handle = other.m_handle;
    other.m_handle = nullptr;
  }
  return *this;
}

bool ScopedDLL::Load(const char* path) {
  Reset();
  if (path != nullptr) m_handle = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
  return m_handle != nullptr;
}

void* ScopedDLL::Symbol(const char* name) const {
  return m_handle != nullptr && name != nullptr ? ::dlsym(m_handle, name) : nullptr;
}

void ScopedDLL::Reset() {
  if (m_handle != nullptr) ::dlclose(m_handle);
  m_handle = nullptr;
}

}  // namespace VexaOS
