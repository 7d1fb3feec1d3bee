#include "platform/urifile/LocalFileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "platform/files/TextConvert.h"
#include "platform/os/FileUrl.h"
#include "platform/os/MemoryArena.h"

namespace VexaUri {
namespace {

std::atomic<uint64_t> systemSeeks{0};

int OpenFlagsFor(uint32_t flags) {
  int mode = O_RDONLY;
  if (flags & kLocalWrite) mode = (flags & kLocalRead) ? O_RDWR : O_WRONLY;
  if (flags & kLocalCreate) mode |= O_CREAT | ((flags & kLocalCreateOnlyNew) ? O_EXCL : 0);
  return mode | O_CLOEXEC;
}

}  // namespace

LocalFileHandle* LocalFileHandle::Create(VexaOS::MemoryArena* arena) {
  void* place = VexaOS::ArenaOrHeapAlloc(arena, sizeof(LocalFileHandle));
  return place ? new (place) LocalFileHandle(arena) : nullptr;
}

void LocalFileHandle::Destroy(LocalFileHandle* handle) {
  if (!handle) return;
  VexaOS::MemoryArena* arena = handle->m_arena;
  handle->~LocalFileHandle();
  VexaOS::ArenaOrHeapFree(arena, handle);
}

int32_t LocalFileHandle::Open(const char16_t* url, uint32_t flags) {
  Close();
  std::string narrow;
  if (!url || !VexaFiles::Utf16ToUtf8String(url, narrow)) return kLocalSystemFailure;
  std::string path;
  if (!VexaOS::FileUrlToPath(narrow.c_str(), path)) return kLocalSystemFailure;
  const int fd = ::open(path.c_str(), OpenFlagsFor(flags), 0644);
  if (fd < 0) return kLocalSystemFailure;
  m_fd = VexaOS::CFileDescriptor(fd);
  m_path = std::move(path);
  m_position = 0;
  return VexaFiles::kUriOk;
}

bool LocalFileHandle::IsOpen() const { return m_fd.IsOpen(); }

void LocalFileHandle::Close() {
  m_fd.Close();
  m_path.clear();
  m_position = 0;
}

int32_t LocalFileHandle::Seek(uint64_t offset, VexaFiles::SeekOrigin origin) {
  if (!IsOpen()) return kLocalSystemFailure;
  uint64_t target = 0;
  if (!SeekTarget(offset, origin, &target)) return kLocalSystemFailure;
  systemSeeks.fetch_add(1, std::memory_order_relaxed);
  if (::lseek(m_fd.Get(), static_cast<off_t>(target), SEEK_SET) < 0) return kLocalSystemFailure;
  m_position = target;
  return VexaFiles::kUriOk;
}

int32_t LocalFileHandle::Read(void* buffer, uint32_t* count) {
  if (!count) return kLocalSystemFailure;
  const uint32_t asked = *count;
  *count = 0;
  if (!IsOpen() || (!buffer && asked != 0)) return kLocalSystemFailure;
  ssize_t got;
  do got = ::read(m_fd.Get(), buffer, asked); while (got < 0 && errno == EINTR);
  if (got < 0) return kLocalSystemFailure;
  if (got == 0) return kLocalMovedNothing;
  *count = static_cast<uint32_t>(got);
  m_position += static_cast<uint64_t>(got);
  return VexaFiles::kUriOk;
}

int32_t LocalFileHandle::Write(const void* buffer, uint32_t* count) {
  if (!count) return kLocalSystemFailure;
  const uint32_t asked = *count;
  *count = 0;
  if (!IsOpen() || (!buffer && asked != 0)) return kLocalSystemFailure;
  ssize_t put;
  do put = ::write(m_fd.Get(), buffer, asked); while (put < 0 && errno == EINTR);
  if (put < 0) return kLocalSystemFailure;
  if (put == 0) return kLocalMovedNothing;
  *count = static_cast<uint32_t>(put);
  m_position += static_cast<uint64_t>(put);
  return VexaFiles::kUriOk;
}

int32_t LocalFileHandle::Size(uint64_t* size) const {
  struct stat status;
  if (!size || !IsOpen() || ::stat(m_path.c_str(), &status) != 0) return kLocalSystemFailure;
  *size = static_cast<uint64_t>(status.st_size);
  return VexaFiles::kUriOk;
}

uint64_t LocalFileHandle::SystemSeekCount() { return systemSeeks.load(std::memory_order_relaxed); }

}  // namespace VexaUri
