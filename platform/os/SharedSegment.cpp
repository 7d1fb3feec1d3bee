#include "platform/os/SharedSegment.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <utility>
#include <cstring>

namespace VexaOS {
namespace {

constexpr uint32_t kReady = 0x56584F53;  // "VXOS"

struct Header {
  std::atomic<uint32_t> ready;
  uint32_t users;  // changed only under the segment's file lock
  uint64_t reserved;
};
static_assert(sizeof(Header) == 16);

// True when `fd` is still the object that the name refers to (a closing process may have
// removed the name between our open and our lock).
bool StillNamed(int fd, const std::string& systemName) {
  struct stat opened;
  struct stat named;
  if (::fstat(fd, &opened) != 0) return false;
  const std::string path = "/dev/shm" + systemName;
  if (::stat(path.c_str(), &named) != 0) return false;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

std::string SharedSegment::SystemName(const char* kind, const char* name) {
  std::string result = "/vexa.";
  result += kind;
  result += '.';
  for (const char* c = name; *c; ++c) {
    if (*c == '/')
      result += "%2F";
    else if (*c == '%')
      result += "%25";
    else
      result += *c;
  }
  if (result.size() > NAME_MAX) return {};
  return result;
}

bool SharedSegment::Open(const char* kind, const char* name, size_t payloadSize,
                         Initialise initialise, void* argument) {
  Close();
  const std::string systemName = SystemName(kind, name);
  if (systemName.empty()) return false;
  const size_t total = sizeof(Header) + payloadSize;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const mode_t oldMask = ::umask(0);
    CFileDescriptor owned(::shm_open(systemName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    ::umask(oldMask);
    const int fd = owned.Get();
    if (fd < 0) return false;
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    if (!StillNamed(fd, systemName)) continue;  // closing drops the lock
    struct stat info;
    bool ok = ::fstat(fd, &info) == 0;
    const bool fresh = ok && static_cast<size_t>(info.st_size) < total;
    if (ok && fresh) ok = ::ftruncate(fd, static_cast<off_t>(total)) == 0;
    void* mapping = ok ? ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    if (mapping == MAP_FAILED) return false;
    auto* header = static_cast<Header*>(mapping);
    void* payload = static_cast<char*>(mapping) + sizeof(Header);
    if (fresh || header->ready.load(std::memory_order_acquire) != kReady) {
      std::memset(payload, 0, payloadSize);
      header->users = 0;
      if (!initialise(payload, argument)) {
        ::munmap(mapping, total);
        return false;
      }
      header->ready.store(kReady, std::memory_order_release);
    }
    ++header->users;
    ::flock(fd, LOCK_UN);
    m_fd = std::move(owned);
    m_mapping = mapping;
    m_mappedSize = total;
    m_payload = payload;
    m_systemName = systemName;
    return true;
  }
  return false;
}

void SharedSegment::Close(bool keepMapping) {
  if (!m_fd.IsOpen()) return;
  while (::flock(m_fd.Get(), LOCK_EX) != 0 && errno == EINTR) {
  }
  auto* header = static_cast<Header*>(m_mapping);
  if (header->users > 0) --header->users;
  if (header->users == 0 && StillNamed(m_fd.Get(), m_systemName)) ::shm_unlink(m_systemName.c_str());
  if (!keepMapping) ::munmap(m_mapping, m_mappedSize);
  m_fd.Close();  // drops the lock
  m_mapping = nullptr;
  m_payload = nullptr;
  m_mappedSize = 0;
}

}  // namespace VexaOS
