// Loading of an optional plug-in library into one process-wide slot (the download-manager
// library is loaded this way). Names are wide; the narrow copy used for loading keeps the low
// byte of each character.
#pragma once

#include <cstdint>

#include "platform/os/OsResult.h"

namespace VexaOS {

// 0 loaded, -1 the load failed, -2 null name, -10 no narrow copy of the name could be made.
// A later successful load takes the slot; the earlier library stays loaded.
int32_t LoadPluginLibrary(const char16_t* name);
// 0 with *entry set, -1 not found, -2 no library loaded or a null argument, -10 no narrow copy
// of the name could be made.
int32_t GetPluginEntry(const char16_t* name, void** entry);

}  // namespace VexaOS
