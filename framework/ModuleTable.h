// What a layer-1 read module is: a descriptor naming its id, its information block and its
// table of 35 entry points. Modules are plain records of data and function pointers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/VmfRecords.h"

// Module ids of the built-in modules.
inline constexpr int32_t VMF_MODULE_AVI = 10;
inline constexpr int32_t VMF_MODULE_MATROSKA = 12;
inline constexpr int32_t VMF_MODULE_SRT = 14;
inline constexpr int32_t VMF_MODULE_AVC = 15;
inline constexpr int32_t VMF_MODULE_MP4 = 16;
inline constexpr int32_t VMF_MODULE_MPEG = 17;
inline constexpr int32_t VMF_MODULE_LOGGING = 18;
inline constexpr int32_t VMF_MODULE_ID_MAX = 18;         // highest id a file handle may name
inline constexpr int32_t VMF_REGISTRY_SLOTS = 50;        // ids 1..49 may be registered

struct VmfModuleInfo {
  int32_t canRead;
  int32_t canWrite;
  int32_t flags[4];
  const char16_t* extensions;   // for display, e.g. u".mp4, .mov"; u"logging" marks the logging module
  const char16_t* description;
};
// The records of the module table hold pointers in 32-bit words on a 32-bit target; with
// 8-byte pointers those words widen and align.
constexpr bool kModuleWords32 = sizeof(void*) == 4;
static_assert(sizeof(VmfModuleInfo) == (kModuleWords32 ? 32 : 40));
static_assert(offsetof(VmfModuleInfo, extensions) == 24);
static_assert(offsetof(VmfModuleInfo, description) == (kModuleWords32 ? 28 : 32));

struct VmfModuleDescriptor;

// The record handed to Register and, through Init, to every module, which copies it.
struct VmfRegistrationRecord {
  uint32_t flags;
  const VmfModuleDescriptor* const* modules;  // `moduleCount` descriptors, registered in order
  void* const* states;                        // optional, parallel to `modules`
  uint32_t moduleCount;
  uintptr_t reserved;
};
static_assert(sizeof(VmfRegistrationRecord) == (kModuleWords32 ? 20 : 40));  // five words
static_assert(offsetof(VmfRegistrationRecord, modules) == (kModuleWords32 ? 4 : 8));
static_assert(offsetof(VmfRegistrationRecord, states) == (kModuleWords32 ? 8 : 16));
static_assert(offsetof(VmfRegistrationRecord, moduleCount) == (kModuleWords32 ? 12 : 24));
static_assert(offsetof(VmfRegistrationRecord, reserved) == (kModuleWords32 ? 16 : 32));

// A module handle is whatever the module's open entry returned.
using VmfModuleHandle = void*;

// Entry-point signatures. Every entry answers a framework result code (0 success).
using VmfInitEntry = int32_t (*)(const VmfRegistrationRecord* record);
using VmfGetModuleInfoEntry = const VmfModuleInfo* (*)();
// Sets *score to 0..100 for the named file; answers 0 when the score is valid.
using VmfProbeEntry = int32_t (*)(int32_t* score, const char16_t* name, VexaOS::MemoryArena* allocator);
using VmfOpenEntry = int32_t (*)(VmfModuleHandle* module, const char16_t* name,
                                 VexaOS::MemoryArena* allocator);
using VmfOpenExEntry = int32_t (*)(VmfModuleHandle* module, const char16_t* name,
                                   VexaOS::MemoryArena* allocator, uintptr_t arg1, uintptr_t arg2);
using VmfHandleEntry = int32_t (*)(VmfModuleHandle module);
using VmfIndexEntry = int32_t (*)(VmfModuleHandle module, int32_t index);
using VmfInfoEntry = int32_t (*)(VmfModuleHandle module, uint32_t qid, VmfQueryValue* value,
                                 int32_t index);
using VmfSetPositionEntry = int32_t (*)(VmfModuleHandle module, int32_t blockType, int32_t nStream,
                                        int64_t* pTime);
using VmfActiveStreamEntry = int32_t (*)(VmfModuleHandle module, int32_t blockType,
                                         int32_t nStream, int32_t bActive);
using VmfReadNextBlockEntry = int32_t (*)(VmfModuleHandle module, int32_t* pBlockType,
                                          int32_t* pnStream, VmfBlock* block);
using VmfStreamBlockEntry = int32_t (*)(VmfModuleHandle module, int32_t blockType,
                                        int32_t nStream, VmfBlock* block);
using VmfAddStreamEntry = int32_t (*)(VmfModuleHandle module, int32_t blockType,
                                      const void* format, int32_t* nStreamOfType);
using VmfAddTitleEntry = int32_t (*)(VmfModuleHandle module, int32_t* titleId);
// The further entries of the interface that nothing in this system calls: the module handle
// first, then up to four words that only the module interprets.
using VmfExtraEntry = int32_t (*)(VmfModuleHandle module, uintptr_t a, uintptr_t b, uintptr_t c,
                                  uintptr_t d);

// The 35 slots in their fixed order; an empty slot is null, so a table names only its filled
// slots.
struct VmfEntryTable {
  VmfInitEntry init = nullptr;                                 // 0
  VmfGetModuleInfoEntry getModuleInfo = nullptr;               // 1
  VmfProbeEntry probe = nullptr;                               // 2
  VmfOpenEntry openContainer = nullptr;                        // 3
  VmfOpenEntry createContainer = nullptr;                      // 4 open for writing
  VmfOpenExEntry openContainerEx = nullptr;                    // 5
  VmfHandleEntry handleEntry = nullptr;                        // 6
  VmfHandleEntry closeContainer = nullptr;                     // 7
  VmfIndexEntry setTitle = nullptr;                            // 8
  VmfIndexEntry setMenu = nullptr;                             // 9
  VmfInfoEntry getInfo = nullptr;                              // 10
  VmfSetPositionEntry setPosition = nullptr;                   // 11
  VmfActiveStreamEntry setTitleActiveStream = nullptr;         // 12
  VmfReadNextBlockEntry readNextBlock = nullptr;               // 13
  VmfStreamBlockEntry readNextBlockByStream = nullptr;         // 14
  VmfStreamBlockEntry writeNextBlock = nullptr;                // 15
  VmfAddStreamEntry addStream = nullptr;                       // 16
  VmfInfoEntry setInfo = nullptr;                              // 17
  VmfAddTitleEntry addTitle = nullptr;                         // 18
  VmfExtraEntry extra19To27[9] = {};                      // 19..27
  const void* empty28To30[3] = {};                        // 28..30, empty in every module
  VmfHandleEntry finishTitle = nullptr;                        // 31
  VmfExtraEntry extra32To33[2] = {};                      // 32, 33
  const void* empty34 = nullptr;                               // 34, empty in every module
};
static_assert(sizeof(VmfEntryTable) == 35 * sizeof(void*));
static_assert(offsetof(VmfEntryTable, probe) == 2 * sizeof(void*));
static_assert(offsetof(VmfEntryTable, closeContainer) == 7 * sizeof(void*));
static_assert(offsetof(VmfEntryTable, getInfo) == 10 * sizeof(void*));
static_assert(offsetof(VmfEntryTable, readNextBlockByStream) == 14 * sizeof(void*));
static_assert(offsetof(VmfEntryTable, addTitle) == 18 * sizeof(void*));
static_assert(offsetof(VmfEntryTable, extra19To27) == 19 * sizeof(void*));
static_assert(offsetof(VmfEntryTable, finishTitle) == 31 * sizeof(void*));
static_assert(offsetof(VmfEntryTable, empty34) == 34 * sizeof(void*));

struct VmfModuleDescriptor {
  int32_t id;
  const VmfModuleInfo* info;
  const VmfEntryTable* entries;
};
static_assert(sizeof(VmfModuleDescriptor) == (kModuleWords32 ? 12 : 24));
static_assert(offsetof(VmfModuleDescriptor, info) == (kModuleWords32 ? 4 : 8));
static_assert(offsetof(VmfModuleDescriptor, entries) == (kModuleWords32 ? 8 : 16));

// How the readers that live in their own folders join the built-in list.
//
// The Matroska reader (framework/matroska, CMake target `vexa_matroska`) defines
//     const VmfModuleDescriptor* MatroskaModuleDescriptor();
// answering its descriptor with id VMF_MODULE_MATROSKA, and announces it in its CMakeLists.txt:
//     set_property(TARGET vexa_matroska PROPERTY VEXA_READER_MODULE ON)
// framework/CMakeLists.txt then links the target into `vexa_framework` and defines
// VEXA_HAVE_MATROSKA_READER, and the built-in list takes the reader's descriptor. The SRT reader
// (framework/srt, target `vexa_srt`) does the same with SrtModuleDescriptor() and id
// VMF_MODULE_SRT. Without an announced reader the built-in list holds a stand-in for the id
// whose probe scores as the reader's would and whose open answers VMF_ERR_UNSUPPORTED_CONTAINER.
// A reader may use the framework's probe for its slot 2 (ProbeMatroska, ProbeSrt in
// framework/ModuleProbes.h).
const VmfModuleDescriptor* MatroskaModuleDescriptor();
const VmfModuleDescriptor* SrtModuleDescriptor();
