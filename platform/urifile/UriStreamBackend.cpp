#include "platform/urifile/UriStreamBackend.h"

#include <time.h>

#include <algorithm>
#include <cstring>

#include "platform/files/TextConvert.h"
#include "platform/urifile/UriText.h"

namespace VexaUri {

using VexaFiles::StreamIo;
using namespace VexaFiles;

namespace {

// Framework seek origins.
enum : int32_t { kStreamFromStart = 0, kStreamFromCurrent = 1, kStreamFromEnd = 2 };  // = kSeekFrom* of PortableFile.h
enum : int32_t { kProgressBefore = 1, kProgressAfter = 2 };

constexpr StreamBackend kUriFileBackend{UriStreamOpen, UriStreamClose, UriStreamRead,
                                        UriStreamSeek, UriStreamTell,  UriStreamQuery};

IUriFile* FileOf(StreamIo* stream) {
  return stream ? static_cast<IUriFile*>(stream->backend) : nullptr;
}

// The stream's stored credentials, for a server that asks for them.
int32_t StreamCredentials(void* context, char* login, char* password, uint32_t capacity) {
  auto* stream = static_cast<StreamIo*>(context);
  if (!stream || !login || !password) return kUriNullArgument;
  if (!WideToUtf8Buffer(stream->login, login, capacity) ||
      !WideToUtf8Buffer(stream->password, password, capacity))
    return kUriFailed;
  return kUriOk;
}

bool Killed(StreamIo* stream, int32_t phase) {
  return stream->progress && stream->progress(stream->progressContext, phase) != 0;
}

void SleepMs(uint32_t ms) {
  timespec pause{0, static_cast<long>(ms) * 1000000L};
  ::nanosleep(&pause, nullptr);
}

// The framework's answer for what ReadAt answered.
int32_t ReadAnswer(int32_t result, uint32_t got, uint32_t count, uint32_t* outCount) {
  if (result == kUriOk && got == count) {
    *outCount = got;
    return 0;
  }
  *outCount = 0;
  if (result == kUriEnd) return kVmfErrEndOfStream;
  if (result == kUriOk || result == kUriNotReady || result == kUriAborted) return kVmfErrDataNotReady;
  return kUriStreamFailed;
}

// Restarts the prefetch at `now` unless it only moved a little ahead of `before` within the
// range the last prefetch already covers.
void RestartPrefetchAfterSeek(StreamIo* stream, IUriFile* file, uint64_t before) {
  uint64_t now = 0;
  if (file->Tell(&now) != kUriOk) return;
  const uint64_t lastStart = static_cast<uint64_t>(stream->lastPrefetchStart);
  const bool shortHopAhead = now >= before && now - before < kPrefetchRestartDistance && now >= lastStart;
  if (shortHopAhead) return;
  const uint64_t size = static_cast<uint64_t>(stream->size);
  file->CancelPrefetch();
  file->Prefetch(now, size > now ? size - now : 0);
  stream->lastPrefetchStart = static_cast<int64_t>(now);
}

int32_t Answer(UriStreamQueryValue* value, uint32_t queryId, uint64_t number) {
  value->dataType = static_cast<uint8_t>(queryId & 0xF);
  value->value.u64 = number;  // little-endian: the low bytes hold the narrower types
  return 0;
}

}  // namespace

bool RegisterUriFileStreamBackend() {
  return StreamIoRegisterBackend(kStreamKindUriFile, &kUriFileBackend);
}

int32_t UriStreamOpen(StreamIo* stream, const char16_t* name, int32_t) {
  if (!stream || !name) return kUriStreamMissingArgument;
  if (stream->backend) UriStreamClose(stream);
  // Sockets need no library start on this system; the one start and stop per stream that the
  // backend owes the socket library are no-ops here.
  if (WideLength(name) > kUriStreamNameLimit) return kUriStreamFailed;
  char16_t userAgent[kUriStreamNameLimit + 1] = {};
  if (stream->userAgent) {
    const size_t length = std::min(WideLength(stream->userAgent), kUriStreamNameLimit);
    std::memcpy(userAgent, stream->userAgent, length * sizeof(char16_t));
  }
  const UriFileParams params{name,    nullptr, nullptr, nullptr, stream->referrer,
                             stream->userAgent ? userAgent : nullptr, stream->cookies};
  IUriFile* file = CreateUriFile(&params, StreamCredentials, stream);
  if (!file) return kUriStreamFailed;
  return UriStreamAttach(stream, file);
}

int32_t UriStreamAttach(StreamIo* stream, IUriFile* file) {
  if (!stream || !file) return kUriStreamMissingArgument;
  stream->backend = file;
  stream->byteRanges = 0;
  stream->lastPrefetchStart = 0;
  uint64_t size = 0;
  if (file->GetInfo(kUriInfoSize, &size) != kUriOk) return kUriStreamFailed;
  stream->size = static_cast<int64_t>(size);
  uint64_t ranges = 0;
  stream->byteRanges = file->GetInfo(kUriInfoByteRanges, &ranges) == kUriOk && ranges == 1;
  return 0;
}

int32_t UriStreamClose(StreamIo* stream) {
  IUriFile* file = FileOf(stream);
  if (!file) return stream ? kUriStreamFailed : kUriStreamMissingArgument;
  delete file;
  stream->backend = nullptr;
  stream->size = 0;
  stream->byteRanges = 0;
  return 0;
}

int32_t UriStreamRead(StreamIo* stream, void* buffer, uint32_t count, uint32_t* outCount,
                      int32_t blocking) {
  if (!outCount) return kUriStreamMissingArgument;
  *outCount = 0;
  IUriFile* file = FileOf(stream);
  if (!file || !buffer) return kUriStreamMissingArgument;
  if (Killed(stream, kProgressBefore)) return kVmfErrKill;
  uint64_t position = 0;
  if (file->Tell(&position) != kUriOk) return kUriStreamFailed;
  if (position + count > static_cast<uint64_t>(stream->size)) return kVmfErrEndOfStream;
  uint32_t got = count;
  int32_t result;
  if (stream->progress) {
    // With someone to ask whether to go on, a blocking read is made of short non-blocking
    // ones, so that a kill is heard while the data is not there yet.
    result = file->ReadAt(position, buffer, &got, 0);
    while (result == kUriNotReady && blocking) {
      SleepMs(kNotReadyRetryMs);
      if (Killed(stream, kProgressBefore)) return kVmfErrKill;
      got = count;
      result = file->ReadAt(position, buffer, &got, 0);
    }
    Killed(stream, kProgressAfter);
  } else {
    result = file->ReadAt(position, buffer, &got, blocking ? 1 : 0);
  }
  return ReadAnswer(result, got, count, outCount);
}

int32_t UriStreamSeek(StreamIo* stream, int64_t offset, int32_t origin, int64_t* outPosition) {
  IUriFile* file = FileOf(stream);
  if (!file) return kUriStreamMissingArgument;
  SeekOrigin how;
  switch (origin) {
    case kStreamFromStart: how = kSeekAbsolute; break;
    case kStreamFromCurrent: how = kSeekForward; break;
    case kStreamFromEnd: how = UriSeek::kSeekFromEnd; break;
    default: return kUriStreamFailed;
  }
  uint64_t before = 0;
  if (file->Tell(&before) != kUriOk) return kUriStreamFailed;
  if (file->Seek(static_cast<uint64_t>(offset), how) != kUriOk) return kUriStreamFailed;
  if (stream->byteRanges) RestartPrefetchAfterSeek(stream, file, before);
  uint64_t now = 0;
  if (file->Tell(&now) != kUriOk) return kUriStreamFailed;
  if (outPosition) *outPosition = static_cast<int64_t>(now);
  return 0;
}

int32_t UriStreamTell(StreamIo* stream, int64_t* outPosition) {
  IUriFile* file = FileOf(stream);
  if (!file || !outPosition) return kUriStreamMissingArgument;
  uint64_t position = 0;
  if (file->Tell(&position) != kUriOk) return kUriStreamFailed;
  *outPosition = static_cast<int64_t>(position);
  return 0;
}

int32_t UriStreamQuery(StreamIo* stream, uint32_t queryId, void* record) {
  IUriFile* file = FileOf(stream);
  auto* value = static_cast<UriStreamQueryValue*>(record);
  if (!file || !value) return kUriStreamMissingArgument;
  const uint64_t size = static_cast<uint64_t>(stream->size);
  uint64_t number = 0;
  switch (queryId) {
    case kQidGetProgress:
      if (size == 0 || file->GetInfo(kUriInfoDownloaded, &number) != kUriOk) return kUriStreamFailed;
      return Answer(value, queryId, static_cast<uint8_t>(number * 100 / size));
    case kQidGetBitrate:
      if (file->GetInfo(kUriInfoRate, &number) != kUriOk) return kUriStreamFailed;
      return Answer(value, queryId, static_cast<uint32_t>(number));
    case kQidBytesAvailableAhead: {
      uint64_t position = 0;
      uint64_t offset = 0;
      uint64_t length = kAheadProbeLength;
      if (file->Tell(&position) != kUriOk) return kUriStreamFailed;
      offset = position;
      if (file->GetMissingRange(&offset, &length) != kUriOk) return kUriStreamFailed;
      return Answer(value, queryId, offset - position);
    }
    case kQidGetFileDownloadedSize:
      if (file->GetInfo(kUriInfoDownloaded, &number) != kUriOk) return kUriStreamFailed;
      return Answer(value, queryId, number);
    case kQidGetFileSize: return Answer(value, queryId, size);
    case kQidBlockOnRead: return Answer(value, queryId, stream->blocking ? 1 : 0);
    case kQidStreamByteRangeRequests:
      return Answer(value, queryId, file->GetInfo(kUriInfoByteRanges, &number) == kUriOk && number == 1);
    default: return kUriStreamFailed;
  }
}

}  // namespace VexaUri
