// The framework's stream-I/O backend of kind 3: a stream read through the download-manager
// library. The framework installs it with RegisterDownloadManagerBackend when it initialises;
// readers then choose it for names beginning "http:".
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/files/StreamIo.h"

namespace VexaDownload {

// The framework's codes and query identifiers this backend answers with; the platform cannot
// include the framework, so the numbers are repeated here and the framework checks them
// against its own tables where it registers the backend.
constexpr int32_t kStreamMissingArgument = -2;
constexpr int32_t kStreamDataNotReady = static_cast<int32_t>(0xC000002Du);
constexpr int32_t kStreamKilled = static_cast<int32_t>(0xC0000064u);

constexpr uint32_t kQueryProgress = 0x230101;           // 8-bit percentage
constexpr uint32_t kQueryBitRate = 0x240105;            // 32-bit
constexpr uint32_t kQueryFileSize = 0x240208;           // 64-bit
constexpr uint32_t kQueryDownloadedSize = 0x240608;     // 64-bit
constexpr uint32_t kQueryBytesAvailableAhead = 0x250208;  // 64-bit
constexpr uint32_t kQueryByteRangeRequests = 0xA00A06;  // 32-bit

// The framework's query value record as the backend fills it.
struct StreamQueryValue {
  uint8_t dataType;
  uint32_t size;
  union {
    uint8_t u8;
    uint32_t u32;
    uint64_t u64;
    void* ptr;
  } value;
};
static_assert(sizeof(StreamQueryValue) == 16);
static_assert(offsetof(StreamQueryValue, size) == 4);
static_assert(offsetof(StreamQueryValue, value) == 8);

// The progress phase a read reports before it asks the library.
constexpr int32_t kProgressBeforeRead = 1;
// How long a blocking read waits between two asks for data that is not there yet.
constexpr int32_t kReadPollMs = 10;
// The longest URL passed to the library, in wide characters with the terminator.
constexpr size_t kMaxUrlChars = 1024;

int32_t DownloadStreamOpen(VexaFiles::StreamIo* stream, const char16_t* name, int32_t write);
int32_t DownloadStreamClose(VexaFiles::StreamIo* stream);
int32_t DownloadStreamRead(VexaFiles::StreamIo* stream, void* buffer, uint32_t count,
                           uint32_t* outCount, int32_t blocking);
int32_t DownloadStreamSeek(VexaFiles::StreamIo* stream, int64_t offset, int32_t origin,
                           int64_t* outPosition);
int32_t DownloadStreamTell(VexaFiles::StreamIo* stream, int64_t* outPosition);
int32_t DownloadStreamQuery(VexaFiles::StreamIo* stream, uint32_t queryId, void* value);

// Installs the operations above as kind 3 of the stream-I/O record.
void RegisterDownloadManagerBackend();

}  // namespace VexaDownload
