#include "pipeline/MuxMp2Library.h"

#include <string>

namespace {

using VexaOS::ScopedDLL;

bool LoadFrom(ScopedDLL& library, const std::string& path) { return library.Load(path.c_str()); }

// The library beside the module that holds this code, then the loader's search path, then
// (inside the build tree) the library's own build folder.
bool LoadMuxLibrary(ScopedDLL& library, const char* path) {
  if (path) return library.Load(path);
  const std::string own = VexaOS::ModuleDirectoryOf(reinterpret_cast<const void*>(&LoadFrom));
  if (!own.empty() && LoadFrom(library, own + kMuxMp2LibraryName)) return true;
  if (library.Load(kMuxMp2LibraryName)) return true;
#ifdef VEXA_MUX_MP2_BUILD_PATH
  return library.Load(VEXA_MUX_MP2_BUILD_PATH);
#else
  return false;
#endif
}

}  // namespace

MuxMp2Library::MuxMp2Library(const char* path) {
  if (!LoadMuxLibrary(m_library, path)) return;
  defaults = reinterpret_cast<MuxMp2DefaultsFn>(Resolve(kMuxOrdinalDefaults));
  check = reinterpret_cast<MuxMp2CheckFn>(Resolve(kMuxOrdinalCheck));
  create = reinterpret_cast<MuxMp2CreateFn>(Resolve(kMuxOrdinalCreate));
  setOutput = reinterpret_cast<MuxMp2SetOutputFn>(Resolve(kMuxOrdinalSetOutput));
  addStream = reinterpret_cast<MuxMp2AddStreamFn>(Resolve(kMuxOrdinalAddStream));
  done = reinterpret_cast<MuxMp2DoneFn>(Resolve(kMuxOrdinalDone));
  free = reinterpret_cast<MuxMp2FreeFn>(Resolve(kMuxOrdinalFree));
  m_complete = defaults && check && create && setOutput && addStream && done && free;
}

void* MuxMp2Library::Resolve(int32_t ordinal) const {
  for (const MuxMp2Entry& entry : kMuxMp2Entries)
    if (entry.ordinal == ordinal) return m_library.Entry(static_cast<uint16_t>(ordinal), entry.symbol);
  return nullptr;
}
