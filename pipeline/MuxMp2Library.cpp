#include "pipeline/MuxMp2Library.h"

#include <dlfcn.h>

#include <cstdlib>

namespace {

// The directory of the module that holds this code, with its trailing slash.
std::string OwnDirectory() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&OwnDirectory), &info) || !info.dli_fname) return {};
  std::string path = info.dli_fname;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void* Load(const char* path) {
  if (path) return dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (void* handle = dlopen((OwnDirectory() + kMuxMp2LibraryName).c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
  if (void* handle = dlopen(kMuxMp2LibraryName, RTLD_NOW | RTLD_LOCAL)) return handle;
#ifdef VEXA_MUX_MP2_BUILD_PATH
  // Inside the build tree the library lives in its own folder.
  return dlopen(VEXA_MUX_MP2_BUILD_PATH, RTLD_NOW | RTLD_LOCAL);
#else
  return nullptr;
#endif
}

}  // namespace

MuxMp2Library::MuxMp2Library(const char* path) : m_handle(Load(path)) {
  if (!m_handle) return;
  defaults = reinterpret_cast<MuxMp2DefaultsFn>(Resolve(kMuxOrdinalDefaults));
  check = reinterpret_cast<MuxMp2CheckFn>(Resolve(kMuxOrdinalCheck));
  create = reinterpret_cast<MuxMp2CreateFn>(Resolve(kMuxOrdinalCreate));
  setOutput = reinterpret_cast<MuxMp2SetOutputFn>(Resolve(kMuxOrdinalSetOutput));
  addStream = reinterpret_cast<MuxMp2AddStreamFn>(Resolve(kMuxOrdinalAddStream));
  done = reinterpret_cast<MuxMp2DoneFn>(Resolve(kMuxOrdinalDone));
  free = reinterpret_cast<MuxMp2FreeFn>(Resolve(kMuxOrdinalFree));
  m_complete = defaults && check && create && setOutput && addStream && done && free;
}

MuxMp2Library::~MuxMp2Library() {
  if (m_handle) dlclose(m_handle);
}

void* MuxMp2Library::Resolve(int32_t ordinal) const {
  for (const MuxMp2Entry& entry : kMuxMp2Entries)
    if (entry.ordinal == ordinal) return dlsym(m_handle, entry.symbol);
  return nullptr;
}
