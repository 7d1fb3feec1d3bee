#pragma once
// The property queries of the module's GetInfo: fixed records (MkvPropRecords.h).
#include <cstdint>

#include "framework/matroska/MkvModule.h"

namespace mkv {

// Answers the property queries; *handled false for any other identifier.
int32_t PropQuery(MkvModuleHandle& h, uint32_t qid, VmfQueryValue* v, int32_t index, bool* handled);

}  // namespace mkv
