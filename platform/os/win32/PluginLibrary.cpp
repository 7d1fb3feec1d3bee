#include "platform/os/PluginLibrary.h"
#include "platform/os/OsResult.h"

#include <windows.h>

#include <atomic>
#include <string>

namespace VexaOS {
namespace {

std::atomic<HMODULE> loaded{nullptr};

// Export names are narrow: each character keeps its low byte, as on the other systems.
bool NarrowCopy(const char16_t* name, std::string& narrow) {
  try {
    for (; *name != 0; ++name) narrow.push_back(static_cast<char>(*name & 0xFF));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

// The wide name goes to the loader as it is: Windows names files in UTF-16.
int32_t LoadPluginLibrary(const char16_t* name) {
  if (!name) return kPluginNoArgument;
  HMODULE module = ::LoadLibraryW(reinterpret_cast<const wchar_t*>(name));
  if (!module) return kPluginFailed;
  loaded.store(module, std::memory_order_release);
  return kPluginOk;
}

int32_t GetPluginEntry(const char16_t* name, void** entry) {
  HMODULE module = loaded.load(std::memory_order_acquire);
  if (!module || !name || !entry) return kPluginNoArgument;
  std::string narrow;
  if (!NarrowCopy(name, narrow)) return kPluginNoNarrowName;
  FARPROC symbol = ::GetProcAddress(module, narrow.c_str());
  if (!symbol) return kPluginFailed;
  *entry = reinterpret_cast<void*>(symbol);
  return kPluginOk;
}

}  // namespace VexaOS
