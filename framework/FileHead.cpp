#include "framework/FileHead.h"

#include "platform/files/PortableFile.h"

namespace vmf {
namespace {

// Closes the probed file on every path.
struct ProbedFile {
  VexaFiles::PortableFile* file = nullptr;
  ~ProbedFile() {
    if (file != nullptr) VexaFiles::PortableFileClose(file);
  }
};

}  // namespace

FileHeadResult ReadFileHead(const char16_t* name, VexaOS::MemoryArena* allocator, uint8_t* bytes,
                            size_t count) {
  ProbedFile probed;
  if (VexaFiles::PortableFileOpen(VexaFiles::kPortableRead, allocator, name, &probed.file) !=
      VexaFiles::kPortableOk) {
    return FileHeadResult::CannotOpen;
  }
  size_t have = 0;
  while (have < count) {
    uint32_t got = 0;
    if (VexaFiles::PortableFileRead(probed.file, bytes + have, static_cast<uint32_t>(count - have),
                                    &got) != VexaFiles::kPortableOk) {
      return FileHeadResult::ReadError;
    }
    if (got == 0) return FileHeadResult::TooShort;
    have += got;
  }
  return FileHeadResult::Read;
}

}  // namespace vmf
