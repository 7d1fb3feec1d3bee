#pragma once
// The queries of the module's GetInfo about streams, the file and its tags.
#include <cstdint>

#include "framework/matroska/MkvModule.h"

namespace mkv {

// Answers them; *handled false for any other identifier.
int32_t InfoQuery(MkvModuleHandle& h, uint32_t qid, VmfQueryValue* v, int32_t index, bool* handled);

}  // namespace mkv
