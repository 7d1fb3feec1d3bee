// Layer 2 of the media framework: containers opened by file name, the module chosen per file,
// requests fanned out to the file that holds the stream concerned. Every operation answers a
// framework result code; the handle is checked first (null: VMF_ERR_INVALID_HANDLER, wrong
// marker: -1).
#pragma once

#include <cstdint>

#include "framework/ModuleTable.h"
#include "framework/VmfRecords.h"

inline constexpr int32_t VMF_CONTAINER_MARKER = 101;
inline constexpr int32_t VMF_FILE_MARKER = 100;
inline constexpr uint32_t VMF_MAX_FILES = 10;          // files one handle may cover
inline constexpr uint32_t VMF_FILE_NAME_CHARS = 1024;  // name buffer, terminator included

// One opened file of a container.
struct VmfFileHandle {
  int32_t marker;                   // VMF_FILE_MARKER
  int32_t moduleId;                 // 1..18; VMF_MODULE_LOGGING for every named file
  VmfModuleHandle moduleHandle;     // what the module's open answered
  int32_t streamCursor;             // -1 until a stream is read
  int32_t interleaver;              // answered for VMF_QID_INTERLEAVER_HANDLE
  VexaOS::MemoryArena* allocator;
};

// The handle given to callers.
struct VmfContainer {
  int32_t marker;                   // VMF_CONTAINER_MARKER while valid
  VmfFileHandle** files;            // VMF_MAX_FILES entries
  uint32_t fileCount;
  VexaOS::MemoryArena* allocator;   // null: the process heap
};

namespace vmf {

// Registers the modules of `record`, or the built-in list when it is null. Answers 0 or
// VMF_ERR_LAYER1_MODULE_INIT.
int32_t Init(const VmfRegistrationRecord* record);

// Opens a container. A leading "file://" is dropped; ";" separates up to VMF_MAX_FILES file
// names, each shorter than VMF_FILE_NAME_CHARS (longer names or more files:
// VMF_ERR_OPEN_CONTAINER, and *container stays null). When a file fails to open, the handle
// built so far is left in *container for the caller to close.
int32_t OpenContainer(VmfContainer** container, const char16_t* name,
                      VexaOS::MemoryArena* allocator);

// Closes every file and frees the handle. Every file is closed even when a module fails; the
// first failure is answered.
int32_t CloseContainer(VmfContainer* container);

int32_t SetTitle(VmfContainer* container, int32_t titleIndex);

// Routes by the identifier's stream kind: none goes to the first file with the index as given;
// video, audio and subtitle make the index a stream number, and the file holding that stream
// answers. VMF_QID_GET_TITLE_MEDIA_PROP is summed over all files.
int32_t GetInfo(VmfContainer* container, uint32_t qid, VmfQueryValue* value, int32_t index);

// Seeks a stream to *pTime; the time reached is written back.
int32_t SetPosition(VmfContainer* container, int32_t blockType, int32_t nStream, int64_t* pTime);

int32_t ReadNextBlockByStream(VmfContainer* container, int32_t blockType, int32_t nStream,
                              VmfBlock* block);

}  // namespace vmf
