#include "platform/urifile/SideFileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace VexaUri {
namespace {

constexpr mode_t kNewFileMode = 0644;

}  // namespace

SideFileOpen SideFileHandle::OpenForReading(const std::string& path) {
  m_file = VexaOS::CFileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (m_file.IsOpen()) return SideFileOpen::kOpened;
  return errno == ENOENT ? SideFileOpen::kMissing : SideFileOpen::kFailed;
}

bool SideFileHandle::OpenForUpdate(const std::string& path, bool empty) {
  const int flags = O_RDWR | O_CREAT | O_CLOEXEC | (empty ? O_TRUNC : 0);
  m_file = VexaOS::CFileDescriptor(::open(path.c_str(), flags, kNewFileMode));
  return m_file.IsOpen();
}

void SideFileHandle::Close() { m_file.Close(); }

bool SideFileHandle::IsOpen() const { return m_file.IsOpen(); }

bool SideFileHandle::Size(uint64_t* size) const {
  struct stat status;
  if (::fstat(m_file.Get(), &status) != 0) return false;
  *size = static_cast<uint64_t>(status.st_size);
  return true;
}

bool SideFileHandle::ReadAt(uint64_t offset, void* bytes, uint32_t count, uint32_t* got) const {
  char* at = static_cast<char*>(bytes);
  *got = 0;
  while (*got < count) {
    const ssize_t n = ::pread(m_file.Get(), at + *got, count - *got, static_cast<off_t>(offset + *got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    *got += static_cast<uint32_t>(n);
  }
  return true;
}

bool SideFileHandle::WriteAt(uint64_t offset, const void* bytes, uint32_t count) {
  const char* at = static_cast<const char*>(bytes);
  for (uint32_t done = 0; done < count;) {
    const ssize_t n = ::pwrite(m_file.Get(), at + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

bool SideFileHandle::Sync() { return ::fdatasync(m_file.Get()) == 0; }

bool SideFileHandle::Truncate() { return ::ftruncate(m_file.Get(), 0) == 0; }

std::string SideFileHandle::UrlOfLocalPath(std::string_view path) {
  if (path.empty() || path.front() != '/') return {};
  std::string url = "file://";
  for (char c : path) url += c == '%' ? std::string("%25") : std::string(1, c);
  return url;
}

}  // namespace VexaUri
