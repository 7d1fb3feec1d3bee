#include "platform/downloadmanager/DownloadManagerStream.h"

#include <chrono>
#include <span>
#include <thread>

#include "platform/downloadmanager/DownloadManagerApi.h"
#include "platform/files/TextConvert.h"
#include "platform/os/MemoryArena.h"

namespace VexaDownload {
namespace {

using VexaFiles::StreamIo;

// What the backend keeps per stream.
struct DownloadStream {
  DmFile file;
  DmConfig config;
  int64_t totalSize;
};

DownloadStream* StreamRecord(StreamIo* stream) {
  return stream ? static_cast<DownloadStream*>(stream->backend) : nullptr;
}

// The strings the stream carries, in the order the library wants them as options.
struct CarriedOption {
  const DmOption& option;
  const char16_t* value;
};

bool OptionsFit(std::span<const CarriedOption> options) {
  for (const CarriedOption& carried : options)
    if (carried.value && VexaFiles::WideLength(carried.value) > carried.option.maxChars) return false;
  return true;
}

void SetOptions(std::span<const CarriedOption> options, DmConfig* config) {
  // A refused option leaves the configuration without it; the open decides whether the
  // resource can be fetched all the same.
  for (const CarriedOption& carried : options)
    if (carried.value)
      DmSetFileConfigPluginOption(config, kDmOptionPlugin, carried.option.name, carried.value);
}

// A kill request from the stream's progress callback; false when it has none.
bool KillRequested(StreamIo* stream) {
  return stream->progress && stream->progress(stream->progressContext, kProgressBeforeRead) != 0;
}

// Releases what a stream holds in the library and the record itself.
void ReleaseStream(StreamIo* stream, DownloadStream* record) {
  DmFileAbort(record->file);
  DmFileClose(record->file);
  VexaOS::ArenaOrHeapFree(stream->allocator, record);
  stream->backend = nullptr;
}

int32_t OpenFailed(StreamIo* stream, DownloadStream* record, int32_t result) {
  ReleaseStream(stream, record);
  stream->size = 0;
  return result;
}

int32_t ReadOnce(DownloadStream* record, void* buffer, uint32_t count, uint32_t* got) {
  *got = 0;
  return DmFileRead(record->file, buffer, count, got, kDmReadMode);
}

int32_t ReadResult(int32_t result, uint32_t count, uint32_t got, uint32_t* outCount) {
  if (result == kDmNotReady || result == kDmStillBusy) return kStreamDataNotReady;
  if (result != kDmOk) return VexaFiles::kStreamFailed;
  *outCount = got;
  return got < count ? VexaFiles::kStreamFailed : 0;
}

// The library's answers that need its information record first.
int32_t QueryFromInfo(DownloadStream* record, uint32_t queryId, StreamQueryValue* value) {
  DownloadManagerInfo info{};
  const int32_t got = DmFileGetInfo(record->file, &info);
  switch (queryId) {
    case kQueryProgress: {
      if (record->totalSize <= 0 || got != kDmOk) return VexaFiles::kStreamFailed;
      // A library that counts more than the size still means "all of it".
      const double percent = static_cast<double>(info.downloaded) /
                             static_cast<double>(record->totalSize) * 100.0;
      value->value.u8 = static_cast<uint8_t>(percent > 100.0 ? 100.0 : percent);
      return 0;
    }
    case kQueryBitRate:
      if (got != kDmOk) return VexaFiles::kStreamFailed;
      value->value.u32 = info.bitRate;
      return 0;
    case kQueryDownloadedSize:
      if (record->totalSize <= 0 || got != kDmOk) return VexaFiles::kStreamFailed;
      value->value.u64 = info.downloaded;
      return 0;
    case kQueryByteRangeRequests:
      value->value.u32 = got == kDmOk ? info.byteRanges : 0;
      return 0;
  }
  return VexaFiles::kStreamFailed;
}

int32_t QueryBytesAhead(DownloadStream* record, StreamQueryValue* value) {
  uint64_t position = 0;
  DownloadManagerInfo info{};
  uint64_t count = 0;
  if (DmFileGetPosition(record->file, &position) != kDmOk ||
      DmFileGetInfo(record->file, &info) != kDmOk ||
      DmGetFileValidBytes(&info, LowWord(position), HighWord(position),
                          LowWord(kDmValidBytesLimit), HighWord(kDmValidBytesLimit), &count,
                          0) != kDmOk)
    return VexaFiles::kStreamFailed;
  value->value.u64 = count;
  return 0;
}

constexpr VexaFiles::StreamBackend kDownloadBackend{
    DownloadStreamOpen, DownloadStreamClose, DownloadStreamRead,
    DownloadStreamSeek, DownloadStreamTell,  DownloadStreamQuery};

}  // namespace

int32_t DownloadStreamOpen(StreamIo* stream, const char16_t* name, int32_t) {
  if (!stream || !name) return kStreamMissingArgument;
  if (stream->backend) DownloadStreamClose(stream);
  if (VexaFiles::WideLength(name) >= kMaxUrlChars) return VexaFiles::kStreamFailed;
  const CarriedOption options[] = {{kDmReferrerOption, stream->referrer},
                                    {kDmUserAgentOption, stream->userAgent},
                                    {kDmCookiesOption, stream->cookies},
                                    {kDmLoginOption, stream->login},
                                    {kDmPasswordOption, stream->password}};
  // A value cut to fit would be a different referrer, cookie or password: refuse instead.
  if (!OptionsFit(options)) return VexaFiles::kStreamFailed;
  DmConfig config = nullptr;
  SetOptions(options, &config);
  DmFile file = nullptr;
  if (DmFileOpenEx(name, 0, 0, &config, &file, kDmOpenFlags) != kDmOk)
    return VexaFiles::kStreamFailed;
  auto* record = static_cast<DownloadStream*>(
      VexaOS::ArenaOrHeapAlloc(stream->allocator, sizeof(DownloadStream)));
  if (!record) {
    DmFileClose(file);
    return VexaFiles::kStreamNoMemory;
  }
  *record = DownloadStream{file, config, 0};
  stream->backend = record;
  DownloadManagerInfo info{};
  const int32_t described = DmFileGetInfo(file, &info);
  if (described != kDmOk) return OpenFailed(stream, record, described);
  record->totalSize = static_cast<int64_t>(info.totalSize);
  // The readers take the size from the record, as they do for local files.
  stream->size = record->totalSize;
  uint64_t position = 0;
  const int32_t rewound = DmFileSeek(file, 0, 0, kDmSeekFromStart, &position);
  if (rewound != kDmOk) return OpenFailed(stream, record, rewound);
  return 0;
}

int32_t DownloadStreamClose(StreamIo* stream) {
  DownloadStream* record = StreamRecord(stream);
  if (!record || !record->file) return kStreamMissingArgument;
  ReleaseStream(stream, record);
  stream->size = 0;
  return 0;
}

int32_t DownloadStreamRead(StreamIo* stream, void* buffer, uint32_t count, uint32_t* outCount,
                           int32_t blocking) {
  DownloadStream* record = StreamRecord(stream);
  if (!record || !outCount || (!buffer && count > 0)) return kStreamMissingArgument;
  *outCount = 0;
  if (count == 0) return 0;
  if (KillRequested(stream)) return kStreamKilled;
  uint32_t got = 0;
  int32_t result = ReadOnce(record, buffer, count, &got);
  while (blocking && result == kDmNotReady) {
    if (KillRequested(stream)) return kStreamKilled;
    std::this_thread::sleep_for(std::chrono::milliseconds(kReadPollMs));
    result = ReadOnce(record, buffer, count, &got);
  }
  return ReadResult(result, count, got, outCount);
}

int32_t DownloadStreamSeek(StreamIo* stream, int64_t offset, int32_t origin,
                           int64_t* outPosition) {
  DownloadStream* record = StreamRecord(stream);
  if (!record) return kStreamMissingArgument;
  if (origin != kDmSeekFromStart && origin != kDmSeekFromCurrent && origin != kDmSeekFromEnd)
    return kStreamMissingArgument;
  uint64_t current = 0;
  if (DmFileGetPosition(record->file, &current) != kDmOk) return VexaFiles::kStreamFailed;
  uint64_t reached = current;
  const bool alreadyThere = origin == kDmSeekFromStart && static_cast<uint64_t>(offset) == current;
  if (!alreadyThere) {
    const auto bits = static_cast<uint64_t>(offset);
    if (DmFileSeek(record->file, LowWord(bits), HighWord(bits), origin, &reached) != kDmOk)
      return VexaFiles::kStreamFailed;
  }
  if (outPosition) *outPosition = static_cast<int64_t>(reached);
  return 0;
}

int32_t DownloadStreamTell(StreamIo* stream, int64_t* outPosition) {
  DownloadStream* record = StreamRecord(stream);
  if (!record || !outPosition) return kStreamMissingArgument;
  uint64_t position = 0;
  if (DmFileGetPosition(record->file, &position) != kDmOk) return VexaFiles::kStreamFailed;
  *outPosition = static_cast<int64_t>(position);
  return 0;
}

int32_t DownloadStreamQuery(StreamIo* stream, uint32_t queryId, void* value) {
  DownloadStream* record = StreamRecord(stream);
  auto* answer = static_cast<StreamQueryValue*>(value);
  if (!record || !answer) return VexaFiles::kStreamFailed;
  switch (queryId) {
    case kQueryFileSize:
      answer->value.u64 = static_cast<uint64_t>(record->totalSize);
      return 0;
    case kQueryBytesAvailableAhead:
      return QueryBytesAhead(record, answer);
    case kQueryProgress:
    case kQueryBitRate:
    case kQueryDownloadedSize:
    case kQueryByteRangeRequests:
      return QueryFromInfo(record, queryId, answer);
    default:
      return VexaFiles::kStreamFailed;
  }
}

void RegisterDownloadManagerBackend() {
  VexaFiles::StreamIoRegisterBackend(VexaFiles::kStreamKindDownloadManager, &kDownloadBackend);
}

}  // namespace VexaDownload
