// The multiplexer library as the multiplexer node reaches it: loaded at run time, each entry
// point found through its ordinal. Unloaded when the last user goes.
#pragma once

#include <string>

#include "interfaces/sv_mux_mp2.h"
#include "platform/os/ScopedDLL.h"

class MuxMp2Library {
 public:
  // path null: the library next to this module, then the loader's search path.
  explicit MuxMp2Library(const char* path);
  MuxMp2Library(const MuxMp2Library&) = delete;
  MuxMp2Library& operator=(const MuxMp2Library&) = delete;

  // True when the library is loaded and every entry point was found.
  bool IsLoaded() const { return m_complete; }

  MuxMp2DefaultsFn defaults = nullptr;
  MuxMp2CheckFn check = nullptr;
  MuxMp2CreateFn create = nullptr;
  MuxMp2SetOutputFn setOutput = nullptr;
  MuxMp2AddStreamFn addStream = nullptr;
  MuxMp2DoneFn done = nullptr;
  MuxMp2FreeFn free = nullptr;

 private:
  void* Resolve(int32_t ordinal) const;

  VexaOS::ScopedDLL m_library;
  bool m_complete = false;
};
