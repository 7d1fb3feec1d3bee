#include "platform/urifile/UriSource.h"

#include <sys/stat.h>

#include <cstring>
#include <new>

#include "platform/os/MemoryArena.h"
#include "platform/urifile/NoloConnection.h"

namespace VexaUri {

using namespace VexaFiles;

namespace {

constexpr char kFilePrefix[] = "file://";
constexpr char kHttpPrefix[] = "http://";
constexpr char kNoloPrefix[] = "nolo://";
constexpr size_t kPrefixLength = 7;
constexpr uint32_t kPrivateArenaAlignment = 8;

bool HasPrefix(const char* uri, const char* prefix) {
  return std::strncmp(uri, prefix, kPrefixLength) == 0;
}

// The arena the source lives in: the caller's, or one over a private buffer.
VexaOS::MemoryArena* ArenaFor(VexaOS::MemoryArena* given, void** privateBuffer) {
  *privateBuffer = nullptr;
  if (given) return given;
  void* buffer = ::operator new(kPrivateSourceArenaBytes, std::nothrow);
  if (!buffer) return nullptr;
  const VexaOS::ArenaDescriptor area{buffer, kPrivateSourceArenaBytes, kPrivateArenaAlignment};
  VexaOS::MemoryArena* arena = VexaOS::ArenaCreate(&area);
  if (!arena) {
    ::operator delete(buffer);
    return nullptr;
  }
  *privateBuffer = buffer;
  return arena;
}

bool OpenKind(UriSource* source, const char* uri, const VexaHttp::HttpSettings* settings,
              const std::atomic<bool>* aborted) {
  switch (source->kind) {
    case kSourceFile:
      source->file = std::fopen(uri + kPrefixLength, "rb");
      return source->file != nullptr;
    case kSourceHttp:
      source->engine = VexaHttp::HttpEngineCreate(uri, source->arena, settings);
      return source->engine != nullptr;
    case kSourceNolo:
      if (!ParseNoloUrl(uri, &source->noloAddress)) return false;
      source->nolo = NoloConnection::Create(source->arena, aborted);
      return source->nolo != nullptr;
  }
  return false;
}

uint64_t FileSize(FILE* file) {
  struct stat status;
  return ::fstat(fileno(file), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

int32_t FileSeek(FILE* file, SeekOrigin origin, uint64_t offset) {
  if (offset >= kFileSourceOffsetLimit) return kUriNotSupported;
  const long distance = static_cast<long>(offset);
  int result = -1;
  switch (origin) {
    case kSeekForward: result = std::fseek(file, distance, SEEK_CUR); break;
    case kSeekBackward: result = std::fseek(file, -distance, SEEK_CUR); break;
    case kSeekAbsolute: result = std::fseek(file, distance, SEEK_SET); break;
    case kSeekFromEnd: result = std::fseek(file, -distance, SEEK_END); break;
  }
  return result == 0 ? kUriOk : kUriFailed;
}

int32_t NoloSeek(UriSource* source, SeekOrigin origin, uint64_t offset) {
  uint64_t& position = source->noloPosition;
  const uint64_t size = source->nolo->Size();
  switch (origin) {
    case kSeekForward: position += offset; break;
    case kSeekBackward: position = offset > position ? 0 : position - offset; break;
    case kSeekAbsolute: position = offset; break;
    case kSeekFromEnd: position = offset > size ? 0 : size - offset; break;
    default: return kUriFailed;
  }
  return kUriOk;
}

int32_t NoloRead(UriSource* source, uint8_t* buffer, uint32_t* count, bool blocking) {
  const uint32_t asked = *count;
  *count = 0;
  if (!blocking) return kUriNotImplemented;
  int32_t result = kUriOk;
  while (*count < asked) {
    uint32_t moved = asked - *count;
    result = source->nolo->ReadAt(source->noloPosition, buffer + *count, &moved);
    if (result != kUriOk || moved == 0) break;
    *count += moved;
    source->noloPosition += moved;
  }
  if (*count > 0) return kUriOk;
  return result == kUriOk ? kUriEnd : result;
}

}  // namespace

UriSource* UriSourceOpen(const char* uri, VexaOS::MemoryArena* arena,
                         const VexaHttp::HttpSettings* settings, const std::atomic<bool>* aborted) {
  if (!uri) return nullptr;
  UriSourceKind kind;
  if (HasPrefix(uri, kFilePrefix)) kind = kSourceFile;
  else if (HasPrefix(uri, kHttpPrefix)) kind = kSourceHttp;
  else if (HasPrefix(uri, kNoloPrefix)) kind = kSourceNolo;
  else return nullptr;
  void* privateBuffer = nullptr;
  VexaOS::MemoryArena* home = ArenaFor(arena, &privateBuffer);
  if (!home) return nullptr;
  auto* source = static_cast<UriSource*>(VexaOS::ArenaAlloc(home, sizeof(UriSource)));
  if (!source) {
    ::operator delete(privateBuffer);
    return nullptr;
  }
  std::memset(static_cast<void*>(source), 0, sizeof(UriSource));
  source->kind = kind;
  source->arena = home;
  source->privateBuffer = privateBuffer;
  if (!OpenKind(source, uri, settings, aborted)) {
    UriSourceClose(source);
    return nullptr;
  }
  return source;
}

void UriSourceClose(UriSource* source) {
  if (!source) return;
  if (source->file) std::fclose(source->file);
  if (source->engine) VexaHttp::HttpEngineDestroy(source->engine);
  NoloConnection::Destroy(source->nolo);
  void* privateBuffer = source->privateBuffer;
  VexaOS::ArenaFree(source->arena, source);
  ::operator delete(privateBuffer);
}

int32_t UriSourceConnect(UriSource* source) {
  if (!source) return kUriFailed;
  switch (source->kind) {
    case kSourceFile: return kUriOk;
    case kSourceHttp: return VexaHttp::HttpEngineWaitForPosition(source->engine);
    case kSourceNolo: return source->nolo->Open(source->noloAddress);
  }
  return kUriFailed;
}

int32_t UriSourceSeek(UriSource* source, SeekOrigin origin, uint64_t offset, bool blocking) {
  if (!source) return kUriFailed;
  switch (source->kind) {
    case kSourceFile: return FileSeek(source->file, origin, offset);
    case kSourceHttp: return VexaHttp::HttpEngineSeek(source->engine, origin, offset, blocking);
    case kSourceNolo: return NoloSeek(source, origin, offset);
  }
  return kUriFailed;
}

int32_t UriSourceTell(UriSource* source, uint64_t* position, bool blocking) {
  if (!source || !position) return kUriFailed;
  switch (source->kind) {
    case kSourceFile: {
      const long at = std::ftell(source->file);
      if (at < 0) return kUriFailed;
      *position = static_cast<uint64_t>(at);
      return kUriOk;
    }
    case kSourceHttp: return VexaHttp::HttpEngineTell(source->engine, position);
    case kSourceNolo:
      if (!blocking) return kUriNotImplemented;
      *position = source->noloPosition;
      return kUriOk;
  }
  return kUriFailed;
}

int32_t UriSourceRead(UriSource* source, void* buffer, uint32_t* count, bool blocking) {
  if (!count) return kUriNullArgument;
  if (!source || (!buffer && *count != 0)) {
    *count = 0;
    return kUriFailed;
  }
  switch (source->kind) {
    case kSourceFile: {
      const size_t got = std::fread(buffer, 1, *count, source->file);
      const bool failed = got == 0 && std::ferror(source->file);
      const bool ended = got == 0 && *count != 0;
      *count = static_cast<uint32_t>(got);
      return failed ? kUriFailed : ended ? kUriEnd : kUriOk;
    }
    case kSourceHttp: return VexaHttp::HttpEngineRead(source->engine, buffer, count, blocking);
    case kSourceNolo: return NoloRead(source, static_cast<uint8_t*>(buffer), count, blocking);
  }
  return kUriFailed;
}

bool UriSourceIsForwardOnly(UriSource* source) {
  return source && source->kind == kSourceHttp && VexaHttp::HttpEngineIsForwardOnly(source->engine);
}

bool UriSourceSize(UriSource* source, uint64_t* size) {
  if (!source || !size) return false;
  switch (source->kind) {
    case kSourceFile: *size = FileSize(source->file); return true;
    case kSourceHttp: return VexaHttp::HttpEngineSize(source->engine, size);
    case kSourceNolo: *size = source->nolo->Size(); return true;
  }
  return false;
}

int32_t UriSourceServerName(UriSource* source, char* buffer, uint32_t capacity) {
  if (!source || source->kind != kSourceHttp) return kUriNotSupported;
  return VexaHttp::HttpEngineServerName(source->engine, buffer, capacity);
}

int32_t UriSourceCurrentUrl(UriSource* source, char* buffer, uint32_t capacity) {
  if (!source || source->kind != kSourceHttp) return kUriNotSupported;
  return VexaHttp::HttpEngineCurrentUrl(source->engine, buffer, capacity);
}

int32_t UriSourceMissingRange(UriSource* source, uint64_t* offset, uint64_t* length) {
  if (!source || !offset || !length) return kUriFailed;
  switch (source->kind) {
    case kSourceFile:  // the whole file is at hand
      *offset += *length;
      *length = 0;
      return kUriOk;
    case kSourceHttp: return VexaHttp::HttpEngineMissingRange(source->engine, offset, length);
    case kSourceNolo: return kUriOk;  // nothing is kept: the whole range is missing
  }
  return kUriFailed;
}

int32_t UriSourcePrefetch(UriSource* source, uint64_t offset, uint64_t length) {
  if (!source) return kUriFailed;
  return source->kind == kSourceHttp ? VexaHttp::HttpEnginePrefetch(source->engine, offset, length)
                                     : kUriOk;
}

int32_t UriSourceCancelPrefetch(UriSource* source) {
  if (!source) return kUriFailed;
  return source->kind == kSourceHttp ? VexaHttp::HttpEngineCancelPrefetch(source->engine) : kUriOk;
}

void UriSourceAbort(UriSource* source) {
  if (source && source->kind == kSourceHttp) VexaHttp::HttpEngineAbort(source->engine);
}

void UriSourceResume(UriSource* source) {
  if (source && source->kind == kSourceHttp) VexaHttp::HttpEngineResume(source->engine);
}

}  // namespace VexaUri
