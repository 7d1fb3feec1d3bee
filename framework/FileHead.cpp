#include "framework/FileHead.h"

namespace vmf {

FileHeadResult ReadFileHead(const char16_t*, VexaOS::MemoryArena*, uint8_t*, size_t) {
  // Files are read once the portable file layer is linked; until then no file opens.
  return FileHeadResult::CannotOpen;
}

}  // namespace vmf
