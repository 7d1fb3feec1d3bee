#include "platform/os/ScopedDLL.h"

#include <dlfcn.h>

namespace VexaOS {

bool ScopedDLL::Load(const char* path, std::string* error) {
  Reset();
  if (path != nullptr) m_handle = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (m_handle == nullptr && error != nullptr) {
    const char* reason = path != nullptr ? ::dlerror() : "no library named";
    *error = reason != nullptr ? reason : "unknown reason";
  }
  return m_handle != nullptr;
}

void* ScopedDLL::Symbol(const char* name) const {
  return m_handle != nullptr && name != nullptr ? ::dlsym(m_handle, name) : nullptr;
}

// ELF has no export ordinals: the name stands for it.
void* ScopedDLL::Entry(uint16_t, const char* name) const { return Symbol(name); }

void ScopedDLL::Reset() {
  if (m_handle != nullptr) ::dlclose(m_handle);
  m_handle = nullptr;
}

std::string ModuleDirectoryOf(const void* address) {
  Dl_info info{};
  if (!::dladdr(address, &info) || info.dli_fname == nullptr) return {};
  std::string path = info.dli_fname;
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace VexaOS
