#include "platform/os/PluginLibrary.h"
#include "platform/os/OsResult.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>

namespace VexaOS {
namespace {

std::atomic<void*> loaded{nullptr};

char* NarrowCopy(const char16_t* name) {
  size_t length = 0;
  while (name[length] != 0) ++length;
  auto* copy = static_cast<char*>(std::malloc(length + 1));
  if (!copy) return nullptr;
  for (size_t i = 0; i < length; ++i) copy[i] = static_cast<char>(name[i] & 0xFF);
  copy[length] = 0;
  return copy;
}

}  // namespace

int32_t LoadPluginLibrary(const char16_t* name) {
  if (!name) return kPluginNoArgument;
  char* narrow = NarrowCopy(name);
  if (!narrow) return kPluginNoNarrowName;
  void* module = ::dlopen(narrow, RTLD_NOW | RTLD_LOCAL);
  std::free(narrow);
  if (!module) return kPluginFailed;
  loaded.store(module, std::memory_order_release);
  return kPluginOk;
}

int32_t GetPluginEntry(const char16_t* name, void** entry) {
  void* module = loaded.load(std::memory_order_acquire);
  if (!module || !name || !entry) return kPluginNoArgument;
  char* narrow = NarrowCopy(name);
  if (!narrow) return kPluginNoNarrowName;
  void* symbol = ::dlsym(module, narrow);
  std::free(narrow);
  if (!symbol) return kPluginFailed;
  *entry = symbol;
  return kPluginOk;
}

}  // namespace VexaOS
