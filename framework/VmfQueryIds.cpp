#include "framework/VmfQueryIds.h"

#include <iterator>

namespace {

constexpr VmfQidEntry kQids[] = {
#define VMF_QID_ROW(name, value) {name, #name},
    VMF_QID_LIST(VMF_QID_ROW)
#undef VMF_QID_ROW
};
static_assert(std::size(kQids) == 231);

}  // namespace

std::span<const VmfQidEntry> VmfQidTable() { return kQids; }

const char* VmfQidName(uint32_t qid) {
  for (const VmfQidEntry& entry : kQids) {
    if (entry.value == qid) return entry.name;
  }
  return nullptr;
}
