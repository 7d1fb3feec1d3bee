// The portable file layer's operations on an open stream, the same on every system; opening,
// sizes and directory listings are the system's (PortableFile.cpp, win32/PortableFile.cpp).
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/files/PortableFileRecord.h"
#include "platform/os/MemoryArena.h"

namespace VexaFiles {
namespace {

std::atomic<uint64_t> systemSeeks{0};

// 64-bit stream positions.
int SystemSeek(FILE* stream, int64_t offset, int whence) {
#ifdef _WIN32
  return ::_fseeki64(stream, offset, whence);
#else
  return ::fseeko(stream, static_cast<off_t>(offset), whence);
#endif
}

int64_t SystemTell(FILE* stream) {
#ifdef _WIN32
  return ::_ftelli64(stream);
#else
  return ::ftello(stream);
#endif
}

}  // namespace

char16_t* CopyWide(VexaOS::MemoryArena* allocator, const char16_t* text, size_t length) {
  auto* copy = static_cast<char16_t*>(
      VexaOS::ArenaOrHeapAlloc(allocator, (length + 1) * sizeof(char16_t)));
  if (!copy) return nullptr;
  std::memcpy(copy, text, length * sizeof(char16_t));
  copy[length] = 0;
  return copy;
}

PortableFile* NewRecord(VexaOS::MemoryArena* allocator) {
  void* memory = VexaOS::ArenaOrHeapAlloc(allocator, sizeof(PortableFile));
  if (!memory) return nullptr;
  return new (memory) PortableFile{0, nullptr, allocator, nullptr, 0, false, kIoNone};
}

void FreeRecord(PortableFile* file) {
  VexaOS::MemoryArena* allocator = file->allocator;
  if (file->name) VexaOS::ArenaOrHeapFree(allocator, file->name);
  file->~PortableFile();
  VexaOS::ArenaOrHeapFree(allocator, file);
}

int32_t PortableFileRead(PortableFile* file, void* buffer, uint32_t count, uint32_t* outCount) {
  if (outCount) *outCount = 0;
  if (!file || !file->stream) return kPortableNullFile;
  if (file->lastIo == kIoWrite) std::fflush(file->stream);
  file->lastIo = kIoRead;
  const size_t got = count ? std::fread(buffer, 1, count, file->stream) : 0;
  file->position += static_cast<int64_t>(got);
  if (outCount) *outCount = static_cast<uint32_t>(got);
  if (got < count) {
    if (file->console) {
      if (got == 0 && std::feof(file->stream)) return kPortableEndOfInput;
      return kPortableOk;
    }
    const bool failed = std::ferror(file->stream) != 0;
    std::clearerr(file->stream);  // a file that grows can be read further
    if (failed) return kPortableReadFailed;
  }
  return kPortableOk;
}

int32_t PortableFileWrite(PortableFile* file, const void* buffer, uint32_t count,
                          uint32_t* outCount) {
  if (outCount) *outCount = 0;
  if (!file || !file->stream) return kPortableNullFile;
  FILE* stream = file->console ? stdout : file->stream;
  if (!file->console && file->lastIo == kIoRead) SystemSeek(stream, 0, SEEK_CUR);
  file->lastIo = kIoWrite;
  errno = 0;
  const size_t put = count ? std::fwrite(buffer, 1, count, stream) : 0;
  if (outCount) *outCount = static_cast<uint32_t>(put);
  if (put < count) {
    const int error = errno;
    std::clearerr(stream);
    file->position = 0;
    return error == ENOSPC ? kPortableDiskFull : kPortableWriteFailed;
  }
  file->position += static_cast<int64_t>(put);
  return kPortableOk;
}

int32_t PortableFileSeek(PortableFile* file, int64_t offset, int32_t origin) {
  if (!file || !file->stream) return kPortableNullFile;
  if (file->console) return kPortableConsoleSeek;
  int whence;
  switch (origin) {
    case kSeekFromStart:
      whence = SEEK_SET;
      break;
    case kSeekFromCurrent:
      whence = SEEK_CUR;
      break;
    case kSeekFromEnd:
      whence = SEEK_END;
      break;
    default:
      return kPortableBadOrigin;
  }
  if (origin == kSeekFromStart && offset == file->position) return kPortableOk;
  systemSeeks.fetch_add(1, std::memory_order_relaxed);
  file->lastIo = kIoNone;
  if (SystemSeek(file->stream, offset, whence) != 0) {
    const int error = errno;
    file->position = 0;
    return error == EINVAL ? kPortableSeekInvalid : kPortableSeekFailed;
  }
  const int64_t now = SystemTell(file->stream);
  if (now < 0) {
    file->position = 0;
    return kPortableSeekFailed;
  }
  file->position = now;
  return kPortableOk;
}

int32_t PortableFileClose(PortableFile* file) {
  if (!file) return kPortableCloseFailed;
  int32_t result = kPortableOk;
  if (!file->stream) {
    result = kPortableCloseFailed;
  } else if (file->console) {
    std::fflush(stdout);
  } else if (std::fclose(file->stream) != 0) {
    result = kPortableCloseFailed;
  }
  FreeRecord(file);
  return result;
}

uint64_t PortableSystemSeekCount() { return systemSeeks.load(std::memory_order_relaxed); }

}  // namespace VexaFiles
