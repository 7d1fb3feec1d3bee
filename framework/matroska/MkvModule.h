#pragma once
// Module 12 of the media framework: the Matroska reader behind the 35-slot entry table.
// The descriptor is MatroskaModuleDescriptor() (framework/ModuleTable.h).
#include <cstdint>
#include <memory>
#include <string>

#include "framework/ModuleTable.h"
#include "framework/matroska/MkvReader.h"
#include "framework/matroska/MkvTitle.h"

namespace mkv {

// The module handle: one opened file.
struct MkvModuleHandle {
  std::unique_ptr<MkvReader> reader;  // the file's first segment
  std::unique_ptr<MkvTitle> title;    // what seeking, reading and durations go through
  std::u16string fileName;
  uint32_t currentTag = 0;
  uint32_t currentSimpleTag = 0;
  VexaOS::MemoryArena* allocator = nullptr;  // the handle's own memory came from it
};

// Opens a reader over any byte source, as the open entry does over the stream-I/O record
// (tests and tools use it for bytes already in memory).
int32_t OpenModuleHandle(std::unique_ptr<MkvByteSource> source, const char16_t* name, MkvModuleHandle** out,
                         VexaOS::MemoryArena* allocator = nullptr);

int32_t MkvGetInfo(VmfModuleHandle module, uint32_t qid, VmfQueryValue* value, int32_t index);
int32_t MkvSetInfo(VmfModuleHandle module, uint32_t qid, VmfQueryValue* value, int32_t index);
int32_t MkvReadNextBlockByStream(VmfModuleHandle module, int32_t blockType, int32_t nStream, VmfBlock* block);
int32_t MkvSetPosition(VmfModuleHandle module, int32_t blockType, int32_t nStream, int64_t* pTime);
int32_t MkvCloseContainer(VmfModuleHandle module);

}  // namespace mkv
