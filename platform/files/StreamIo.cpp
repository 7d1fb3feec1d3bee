#include "platform/files/StreamIo.h"

#include <atomic>
#include <cstring>
#include <string_view>

#include "platform/files/TextConvert.h"
#include "platform/os/MemoryArena.h"

namespace VexaFiles {
namespace {

int32_t MissingOpen(StreamIo*, const char16_t*, int32_t) { return kStreamFailed; }
int32_t MissingClose(StreamIo*) { return kStreamFailed; }
int32_t MissingRead(StreamIo*, void*, uint32_t, uint32_t* outCount, int32_t) {
  if (outCount) *outCount = 0;
  return kStreamFailed;
}
int32_t MissingSeek(StreamIo*, int64_t, int32_t, int64_t*) { return kStreamFailed; }
int32_t MissingTell(StreamIo*, int64_t*) { return kStreamFailed; }
int32_t MissingQuery(StreamIo*, uint32_t, void*) { return kStreamFailed; }

constexpr StreamBackend kLocalBackend{LocalStreamOpen, LocalStreamClose, LocalStreamRead,
                                      LocalStreamSeek, LocalStreamTell,  nullptr};
constexpr StreamBackend kMissingBackend{MissingOpen, MissingClose, MissingRead,
                                        MissingSeek, MissingTell,  MissingQuery};

std::atomic<const StreamBackend*> installed[kStreamKindCount] = {
    &kLocalBackend, nullptr, nullptr, &kMissingBackend, &kMissingBackend};

}  // namespace

int32_t StreamIoCreate(int32_t kind, void* context, VexaOS::MemoryArena* allocator,
                       StreamIo** out) {
  if (!out) return kStreamBadKind;
  *out = nullptr;
  if (kind < 0 || kind >= kStreamKindCount) return kStreamBadKind;
  const StreamBackend* backend = installed[kind].load(std::memory_order_acquire);
  if (!backend) return kStreamBadKind;
  auto* stream = static_cast<StreamIo*>(VexaOS::ArenaOrHeapAlloc(allocator, sizeof(StreamIo)));
  if (!stream) return kStreamNoMemory;
  std::memset(static_cast<void*>(stream), 0, sizeof(StreamIo));
  stream->kind = kind;
  stream->context = context;
  stream->allocator = allocator;
  stream->open = backend->open;
  stream->close = backend->close;
  stream->read = backend->read;
  stream->seek = backend->seek;
  stream->tell = backend->tell;
  stream->query = backend->query;
  *out = stream;
  return 0;
}

void StreamIoDestroy(StreamIo* stream) {
  if (!stream) return;
  VexaOS::ArenaOrHeapFree(stream->allocator, stream);
}

bool StreamIoRegisterBackend(int32_t kind, const StreamBackend* backend) {
  if (kind != kStreamKindDownloadManager && kind != kStreamKindUriFile) return false;
  installed[kind].store(backend ? backend : &kMissingBackend, std::memory_order_release);
  return true;
}

int32_t LocalStreamOpen(StreamIo* stream, const char16_t* name, int32_t write) {
  if (!stream) return kStreamFileOpenFailure;
  if (stream->file) LocalStreamClose(stream);
  PortableFile* file = nullptr;
  if (PortableFileOpen(write ? kPortableWrite : kPortableReadOnly, stream->allocator, name,
                       &file) != kPortableOk)
    return kStreamFileOpenFailure;
  const size_t length = WideLength(name);
  auto* copy = static_cast<char16_t*>(
      VexaOS::ArenaOrHeapAlloc(stream->allocator, (length + 1) * sizeof(char16_t)));
  if (!copy) {
    PortableFileClose(file);
    return kStreamNoMemory;
  }
  std::memcpy(copy, name, (length + 1) * sizeof(char16_t));
  stream->file = file;
  stream->name = copy;
  stream->size = 0;
  if (!file->console) {
    PortableFileSeek(file, 0, kSeekFromEnd);
    stream->size = file->position;
    if (stream->size != 0) PortableFileSeek(file, 0, kSeekFromStart);
  }
  return 0;
}

int32_t LocalStreamClose(StreamIo* stream) {
  if (!stream || !stream->file) return kStreamNoFile;
  if (stream->name) VexaOS::ArenaOrHeapFree(stream->allocator, stream->name);
  stream->name = nullptr;
  stream->size = 0;
  int32_t result = PortableFileClose(stream->file);
  stream->file = nullptr;
  return result;
}

int32_t LocalStreamRead(StreamIo* stream, void* buffer, uint32_t count, uint32_t* outCount,
                        int32_t) {
  if (!stream) {
    if (outCount) *outCount = 0;
    return kPortableNullFile;
  }
  return PortableFileRead(stream->file, buffer, count, outCount);
}

int32_t LocalStreamSeek(StreamIo* stream, int64_t offset, int32_t origin, int64_t* outPosition) {
  if (!stream || !stream->file) return kPortableNullFile;
  if (offset > stream->size) return kStreamBeyondSize;
  int32_t result = PortableFileSeek(stream->file, offset, origin);
  if (outPosition) *outPosition = stream->file->position;
  return result;
}

int32_t LocalStreamTell(StreamIo* stream, int64_t* outPosition) {
  if (!stream || !stream->file) return kPortableNullFile;
  if (stream->file->console) return kStreamConsoleTell;
  if (outPosition) *outPosition = stream->file->position;
  return 0;
}

int32_t StreamKindForName(const char16_t* name) {
  const std::u16string_view text = name ? std::u16string_view(name) : std::u16string_view();
  if (text.starts_with(u"http:")) return kStreamKindDownloadManager;
  if (text.starts_with(u"file:") || text.starts_with(u"nolo:")) return kStreamKindUriFile;
  return kStreamKindLocal;
}

}  // namespace VexaFiles
