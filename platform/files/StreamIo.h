// The media framework's stream-I/O record: the bytes of every container are read through it.
// A reader creates a record for a backend kind and calls the operations the record carries:
//   kind 0  local files, through the portable file layer (every name not beginning "http:")
//   kind 3  the download-manager library
//   kind 4  an IUriFile
// Kinds 3 and 4 are installed by the libraries that provide them (StreamIoRegisterBackend);
// until then their open answers -1. Kinds 1 and 2 do not exist: creating them answers -2.
#pragma once

#include <cstdint>

#include "platform/files/PortableFile.h"

namespace VexaOS {
struct MemoryArena;
}

namespace VexaFiles {

enum : int32_t {
  kStreamKindLocal = 0,
  kStreamKindDownloadManager = 3,
  kStreamKindUriFile = 4,
  kStreamKindCount = 5,
};

// Result codes besides 0 and the portable layer's.
enum : int32_t {
  kStreamFailed = -1,
  kStreamBadKind = -2,       // also: a null record or out pointer
  kStreamConsoleTell = -8,
  kStreamBeyondSize = -9,    // a seek to an offset above the stored size
  kStreamNoMemory = -10,
  kStreamNoFile = -61,       // close of a stream that holds no file
};
// The framework's VMF_ERR_FILE_OPEN_FAILURE: the local backend could not open its file.
constexpr int32_t kStreamFileOpenFailure = static_cast<int32_t>(0xC0000049u);

struct StreamIo;

// Operations, each with the record first.
typedef int32_t (*StreamOpenFn)(StreamIo* stream, const char16_t* name, int32_t write);
typedef int32_t (*StreamCloseFn)(StreamIo* stream);
typedef int32_t (*StreamReadFn)(StreamIo* stream, void* buffer, uint32_t count, uint32_t* outCount,
                                int32_t blocking);
typedef int32_t (*StreamSeekFn)(StreamIo* stream, int64_t offset, int32_t origin,
                                int64_t* outPosition);
typedef int32_t (*StreamTellFn)(StreamIo* stream, int64_t* outPosition);
// `value` is the framework's query value record.
typedef int32_t (*StreamQueryFn)(StreamIo* stream, uint32_t queryId, void* value);
// Called by network backends around a read with phase 1 (before) and 2 (after); a non-zero
// answer asks the read to be killed.
typedef int32_t (*StreamProgressFn)(void* context, int32_t phase);

struct StreamBackend {
  StreamOpenFn open;
  StreamCloseFn close;
  StreamReadFn read;
  StreamSeekFn seek;
  StreamTellFn tell;
  StreamQueryFn query;  // may be null (the local backend has none)
};

struct StreamIo {
  int32_t kind;
  void* context;                   // the caller's
  VexaOS::MemoryArena* allocator;  // where the record came from (null: the heap)
  // The backend's operations, installed at creation.
  StreamOpenFn open;
  StreamCloseFn close;
  StreamReadFn read;
  StreamSeekFn seek;
  StreamTellFn tell;
  StreamQueryFn query;
  // Local backend.
  PortableFile* file;
  char16_t* name;  // copy of the opened name
  int64_t size;    // measured at open
  // Network backends.
  void* backend;              // their per-stream record
  int32_t blocking;           // reads block until data arrives
  int32_t byteRanges;         // the source accepts byte-range requests
  int64_t lastPrefetchStart;
  StreamProgressFn progress;
  void* progressContext;
  // Optional strings a reader may set before open (0-terminated wide; the caller owns them).
  const char16_t* login;
  const char16_t* password;
  const char16_t* referrer;
  const char16_t* userAgent;
  const char16_t* cookies;
};

// Allocates a zeroed record for `kind`, stores the kind and context and installs the backend's
// operations. Answers 0, kStreamBadKind for an unknown kind or null `out`, kStreamNoMemory.
int32_t StreamIoCreate(int32_t kind, void* context, VexaOS::MemoryArena* allocator,
                       StreamIo** out);
// Returns the record to its allocator; the stream must have been closed.
void StreamIoDestroy(StreamIo* stream);

// Installs the backend of kind 3 or 4 (null restores the stand-in whose open answers -1).
// Answers false for another kind. Records created afterwards use it.
bool StreamIoRegisterBackend(int32_t kind, const StreamBackend* backend);

// The kind a reader opens a name with: kind 3 for "http:" names, kind 4 for the other URIs the
// URI files read ("file:", "nolo:"), kind 0 for every plain name.
int32_t StreamKindForName(const char16_t* name);

// The local backend's operations (kind 0).
int32_t LocalStreamOpen(StreamIo* stream, const char16_t* name, int32_t write);
int32_t LocalStreamClose(StreamIo* stream);
int32_t LocalStreamRead(StreamIo* stream, void* buffer, uint32_t count, uint32_t* outCount,
                        int32_t blocking);
int32_t LocalStreamSeek(StreamIo* stream, int64_t offset, int32_t origin, int64_t* outPosition);
int32_t LocalStreamTell(StreamIo* stream, int64_t* outPosition);

}  // namespace VexaFiles
