// The calling contract of the optional download-manager library: the names of its nine entry
// points, their argument lists, the information record it fills and the result codes both
// sides use. The loader and the stream backend call through it; our own library
// (VexaDownloadManager.so) implements it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace VexaDownload {

// Results of the entry points and of the wrappers around them.
enum DownloadResult : int32_t {
  kDmOk = 0,
  kDmEnd = 2,            // our library: a read at or past the end of the resource
  kDmFailed = 6,
  kDmNullArgument = 8,
  kDmNotReady = 10,      // the data is not there yet
  kDmUnavailable = 11,   // the library or the entry point is not there
  kDmStillBusy = 12,     // also read as "not ready"
};

// Seek origins of VQMFileSeek.
enum DownloadSeekOrigin : int32_t {
  kDmSeekFromStart = 0,
  kDmSeekFromCurrent = 1,
  kDmSeekFromEnd = 2,
};

// What VQMFileGetInfo fills; little-endian, 40 bytes. The callers read the size, the
// downloaded count, the rate and the byte-range word; the other words belong to the library
// (ours keeps its file handle in `owner`, so that VQMGetFileValidBytes, which is handed the
// record rather than the handle, knows the file).
struct DownloadManagerInfo {
  uint64_t totalSize;     // 0 when unknown
  uint64_t owner;
  uint64_t downloaded;
  uint32_t bitRate;
  uint32_t reserved1;
  uint32_t byteRanges;    // non-zero: any range can be requested
  uint32_t reserved2;
};
static_assert(sizeof(DownloadManagerInfo) == 40);
static_assert(offsetof(DownloadManagerInfo, totalSize) == 0);
static_assert(offsetof(DownloadManagerInfo, owner) == 8);
static_assert(offsetof(DownloadManagerInfo, downloaded) == 16);
static_assert(offsetof(DownloadManagerInfo, bitRate) == 24);
static_assert(offsetof(DownloadManagerInfo, reserved1) == 28);
static_assert(offsetof(DownloadManagerInfo, byteRanges) == 32);
static_assert(offsetof(DownloadManagerInfo, reserved2) == 36);

// The configuration handle and the file handle are opaque words owned by the library.
using DmConfig = void*;
using DmFile = void*;

// The values the callers pass where the library decides the meaning.
constexpr char16_t kDmOptionPlugin[] = u"urifile1";
constexpr uint32_t kDmOpenFlags = 16;
constexpr int32_t kDmReadMode = 1;
constexpr uint64_t kDmValidBytesLimit = 1000000000000ull;

// Options set on the configuration before opening, in this order, each with the longest value
// accepted in wide characters.
struct DmOption {
  const char16_t* name;
  size_t maxChars;
};
constexpr DmOption kDmReferrerOption{u"ReferrerURL", 1024};
constexpr DmOption kDmUserAgentOption{u"UserAgent", 2048};
constexpr DmOption kDmCookiesOption{u"Cookies", 65536};
constexpr DmOption kDmLoginOption{u"Login", 256};
constexpr DmOption kDmPasswordOption{u"Password", 256};

extern "C" {
typedef int32_t (*VQMSetFileConfigPluginOptionFn)(DmConfig* config, const char16_t* plugin,
                                                  const char16_t* name, const char16_t* value);
typedef int32_t (*VQMFileOpenExFn)(const char16_t* url, uint32_t reserved1, uint32_t reserved2,
                                   DmConfig* config, DmFile* file, uint32_t flags);
typedef int32_t (*VQMFileGetInfoFn)(DmFile file, DownloadManagerInfo* info);
typedef int32_t (*VQMFileSeekFn)(DmFile file, uint32_t offsetLow, uint32_t offsetHigh,
                                 int32_t origin, uint64_t* newPosition);
typedef int32_t (*VQMFileGetPositionFn)(DmFile file, uint64_t* position);
typedef int32_t (*VQMFileReadFn)(DmFile file, void* buffer, uint32_t count, uint32_t* countRead,
                                 int32_t mode);
typedef int32_t (*VQMGetFileValidBytesFn)(const DownloadManagerInfo* info, uint32_t positionLow,
                                          uint32_t positionHigh, uint32_t limitLow,
                                          uint32_t limitHigh, uint64_t* count, int32_t flags);
typedef int32_t (*VQMFileAbortFn)(DmFile file);
typedef int32_t (*VQMFileCloseFn)(DmFile file);
}

// The entry points by slot, and their exported names.
enum EntryPoint : int {
  kEntrySetFileConfigPluginOption,
  kEntryFileOpenEx,
  kEntryFileGetInfo,
  kEntryFileSeek,
  kEntryFileGetPosition,
  kEntryFileRead,
  kEntryGetFileValidBytes,
  kEntryFileAbort,
  kEntryFileClose,
  kEntryPointCount,
};
constexpr const char* kEntryPointNames[kEntryPointCount] = {
    "VQMSetFileConfigPluginOption", "VQMFileOpenEx",      "VQMFileGetInfo",
    "VQMFileSeek",                  "VQMFileGetPosition", "VQMFileRead",
    "VQMGetFileValidBytes",         "VQMFileAbort",       "VQMFileClose",
};

// The 64-bit values the entry points take as two 32-bit words.
constexpr uint32_t LowWord(uint64_t value) { return static_cast<uint32_t>(value); }
constexpr uint32_t HighWord(uint64_t value) { return static_cast<uint32_t>(value >> 32); }
constexpr uint64_t JoinWords(uint32_t low, uint32_t high) {
  return (static_cast<uint64_t>(high) << 32) | low;
}

}  // namespace VexaDownload
