// Reading the first bytes of a file for the probes, through the portable file layer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/VmfRecords.h"

namespace vmf {

enum class FileHeadResult {
  Read,        // all `count` bytes were read
  CannotOpen,  // the file could not be opened
  TooShort,    // the file holds fewer than `count` bytes
  ReadError,
};

FileHeadResult ReadFileHead(const char16_t* name, VexaOS::MemoryArena* allocator, uint8_t* bytes,
                            size_t count);

}  // namespace vmf
