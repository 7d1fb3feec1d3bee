// What the portable file layer's system part and its stream part share: the record of an open
// file and the copy of its name, both from the allocator the caller gave (or the heap).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/files/PortableFile.h"

namespace VexaFiles {

enum : uint8_t { kIoNone = 0, kIoRead = 1, kIoWrite = 2 };  // PortableFile::lastIo

char16_t* CopyWide(VexaOS::MemoryArena* allocator, const char16_t* text, size_t length);
PortableFile* NewRecord(VexaOS::MemoryArena* allocator);
void FreeRecord(PortableFile* file);

}  // namespace VexaFiles
