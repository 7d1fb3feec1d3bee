#include "framework/VmfErrors.h"

namespace {

constexpr VmfErrorEntry kErrors[] = {
#define VMF_ERROR_ROW(name, code, message) {name, #name, message},
    VMF_ERROR_LIST(VMF_ERROR_ROW)
#undef VMF_ERROR_ROW
};

}  // namespace

std::span<const VmfErrorEntry> VmfErrorTable() { return kErrors; }

const VmfErrorEntry* VmfFindError(int32_t code) {
  for (const VmfErrorEntry& entry : kErrors) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}
