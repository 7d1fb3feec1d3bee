// The framework's stream-I/O backend of kind 4: a stream read through an IUriFile.
//
// The platform layer does not see the framework, so the few framework numbers this backend
// answers with (three errors, the query identifiers it serves and the layout of the query
// value record) are restated here; they are fixed by the framework's vocabulary.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/files/StreamIo.h"
#include "platform/urifile/IUriFile.h"

namespace VexaUri {

// Framework errors.
constexpr int32_t kVmfErrEndOfStream = static_cast<int32_t>(0xC000001Au);
constexpr int32_t kVmfErrDataNotReady = static_cast<int32_t>(0xC000002Du);
constexpr int32_t kVmfErrKill = static_cast<int32_t>(0xC0000064u);

// Framework query identifiers served by Query (0x00GGNNKT: the low digit is the value type).
enum UriStreamQuery : uint32_t {
  kQidGetProgress = 0x230101,
  kQidGetBitrate = 0x240105,
  kQidGetFileSize = 0x240208,
  kQidGetFileDownloadedSize = 0x240608,
  kQidBlockOnRead = 0x250101,
  kQidBytesAvailableAhead = 0x250208,
  kQidStreamByteRangeRequests = 0xA00A06,
};

// The framework's query value record: a type byte, a size, and an 8-byte value holding the
// integer in its low bytes.
struct UriStreamQueryValue {
  uint8_t dataType;
  uint32_t size;
  union {
    uint64_t u64;
    uint8_t bytes[8];
  } value;
};
static_assert(sizeof(UriStreamQueryValue) == 16);
static_assert(offsetof(UriStreamQueryValue, size) == 4 && offsetof(UriStreamQueryValue, value) == 8);

// Results of the operations other than Read.
enum : int32_t { kUriStreamFailed = -1, kUriStreamMissingArgument = -2 };

constexpr size_t kUriStreamNameLimit = 1024;  // characters of the URI and of the user agent
// A seek this far or farther ahead (or any seek back) restarts the prefetch at the new position.
constexpr uint64_t kPrefetchRestartDistance = 0x200000;
constexpr uint32_t kNotReadyRetryMs = 5;
// What BYTES_AVAILABLE_AHEAD asks GetMissingRange about.
constexpr uint64_t kAheadProbeLength = 1000000000000ull;

// Installs this backend as kind 4 of the stream-I/O record.
bool RegisterUriFileStreamBackend();

// The six operations.
int32_t UriStreamOpen(VexaFiles::StreamIo* stream, const char16_t* name, int32_t write);
int32_t UriStreamClose(VexaFiles::StreamIo* stream);
int32_t UriStreamRead(VexaFiles::StreamIo* stream, void* buffer, uint32_t count, uint32_t* outCount,
                      int32_t blocking);
int32_t UriStreamSeek(VexaFiles::StreamIo* stream, int64_t offset, int32_t origin,
                      int64_t* outPosition);
int32_t UriStreamTell(VexaFiles::StreamIo* stream, int64_t* outPosition);
int32_t UriStreamQuery(VexaFiles::StreamIo* stream, uint32_t queryId, void* value);

// The second half of open: the stream takes `file` (destroyed by close, also when this fails),
// stores its size and whether it serves byte ranges. 0 or kUriStreamFailed.
int32_t UriStreamAttach(VexaFiles::StreamIo* stream, IUriFile* file);

}  // namespace VexaUri
