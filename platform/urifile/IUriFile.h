// The byte source through which the framework reads whatever a URI names: a local file
// ("file:"), or a network resource ("http://", "nolo://") read into memory or into a partial
// local copy. CreateUriFile picks the class from the URI and the parameters.
//
// Every operation answers a UriResult code (platform/files/UriResult.h); sizes and offsets
// are unsigned 64-bit byte counts.
#pragma once

#include <cstdint>

#include "platform/files/UriResult.h"

namespace VexaUri {

using VexaFiles::SeekOrigin;

// States reported by GetState.
enum UriFileState : uint32_t {
  kUriStateOpen = 3,      // open and streaming
  kUriStateClosed = 4,    // after construction and after closing
  kUriStateComplete = 5,  // every byte available locally
};

// GetInfo identifiers.
enum UriInfoId : uint32_t {
  kUriInfoPartialValue = 1,  // UriFileObject: a 32-bit value of its partial copy
  kUriInfoIsObject = 2,      // UriFileObject: answers 1
  kUriInfoByteRanges = 4,    // 1 when any range can be served, 0 when forward-only
  kUriInfoSize = 6,          // total size
  kUriInfoDownloaded = 7,    // bytes downloaded so far
  kUriInfoRate = 8,          // current transfer rate in bits per second
};

// Wide, 0-terminated strings; all but `uri` may be null.
struct UriFileParams {
  const char16_t* uri;  // at least 5 characters
  const char16_t* sideFile1;  // the three side files of a partial download
  const char16_t* sideFile2;
  const char16_t* sideFile3;
  const char16_t* referrer;
  const char16_t* userAgent;
  const char16_t* cookies;
};

// Fills `login` and `password` (narrow, 0-terminated, each at most `capacity` bytes with the
// terminator) when a server asks for credentials. Answers 0, or kUriNullArgument when
// `context` is null.
typedef int32_t (*AuthCallback)(void* context, char* login, char* password, uint32_t capacity);
constexpr uint32_t kAuthFieldCapacity = 256;

class IUriFile {
 public:
  virtual ~IUriFile() = default;
  virtual int32_t GetState(uint32_t* state) = 0;
  // The last response's "Server" header value, and the URL in use after redirects.
  virtual int32_t GetServerName(char16_t* buffer, uint32_t capacity) { (void)buffer; (void)capacity; return VexaFiles::kUriNotImplemented; }
  virtual int32_t GetCurrentUrl(char16_t* buffer, uint32_t capacity) { (void)buffer; (void)capacity; return VexaFiles::kUriNotImplemented; }
  virtual int32_t Seek(uint64_t offset, SeekOrigin origin) = 0;
  virtual int32_t Tell(uint64_t* position) = 0;
  virtual int32_t ReadAt(uint64_t position, void* buffer, uint32_t* count, uint8_t blocking) = 0;
  virtual int32_t Read(void* buffer, uint32_t* count, uint8_t blocking) = 0;
  // Later reads answer kUriAborted until Resume. Safe from another thread while a read blocks.
  virtual int32_t Abort() = 0;
  virtual int32_t Resume() = 0;
  virtual int32_t Prefetch(uint64_t offset, uint64_t length) = 0;
  virtual int32_t CancelPrefetch() = 0;
  // Moves `offset` past the bytes already available from it and shrinks `length` by as much.
  virtual int32_t GetMissingRange(uint64_t* offset, uint64_t* length) = 0;
  virtual int32_t SetProperty(uint32_t id, uint32_t valueLow, uint32_t valueHigh) = 0;
  virtual int32_t GetInfo(uint32_t id, uint64_t* value) = 0;
  virtual int32_t GetProperty(uint32_t id, uint64_t* value) = 0;
  // Named text properties of a partial copy (UriFileObject); the others answer 11.
  virtual int32_t SetTextProperty(uint32_t id, const char16_t* value) = 0;
  virtual int32_t GetTextProperty(uint32_t id, char16_t* buffer, uint32_t capacity) = 0;
  virtual int32_t DeleteProperty(uint32_t id) = 0;
  virtual int32_t SetDownloadMode(uint32_t mode, uint32_t flag) = 0;
  virtual int32_t GetDownloadMode(uint32_t* mode) = 0;
};

// An open file for the URI, or null (a URI under 5 characters, an unknown scheme, a failed
// open: nothing is left open).
IUriFile* CreateUriFile(const UriFileParams* params, AuthCallback callback, void* context);

}  // namespace VexaUri
