#include "platform/settings/AtomicWrite.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/os/DirectoryHandle.h"

namespace veds {
namespace {

constexpr char kLockFile[] = ".vexa-lock";
constexpr char kTemporaryInfix[] = ".tmp";

std::atomic<uint32_t> uniqueCounter{0};
std::atomic<WriteObserver> writeObserver{nullptr};

void Observe(WritePoint point) {
  if (WriteObserver observer = writeObserver.load()) observer(point);
}

bool SyncDirectory(const std::string& directory) {
  VexaOS::CFileDescriptor handle(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return handle.IsOpen() && ::fsync(handle.Get()) == 0;
}

bool WriteAll(int fd, std::string_view text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

void RemoveLeftovers(const std::string& directory, const std::string& prefix) {
  VexaOS::DirectoryHandle handle = VexaOS::OpenDirectory(directory.c_str());
  if (!handle) return;
  while (dirent* item = ::readdir(handle.get()))
    if (std::strncmp(item->d_name, prefix.c_str(), prefix.size()) == 0) ::unlinkat(::dirfd(handle.get()), item->d_name, 0);
}

}  // namespace

void SetWriteObserver(WriteObserver observer) { writeObserver.store(observer); }

KeyLock::KeyLock(const std::string& directory)
    : m_file(::open((directory + "/" + kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
  while (m_file.IsOpen() && ::flock(m_file.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) m_file.Close();
  }
}

std::string UniqueSuffix() {
  return "." + std::to_string(::getpid()) + "." + std::to_string(uniqueCounter.fetch_add(1));
}

bool ReadWholeFile(const std::string& path, std::string& text, bool& missing) {
  text.clear();
  VexaOS::CFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  missing = !file.IsOpen() && errno == ENOENT;
  if (!file.IsOpen()) return false;
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    text.append(buffer, static_cast<size_t>(got));
  }
}

bool ReplaceFile(const std::string& directory, const std::string& name, std::string_view text) {
  const std::string prefix = name + kTemporaryInfix;
  RemoveLeftovers(directory, prefix + ".");
  const std::string temporary = directory + "/" + prefix + UniqueSuffix();
  VexaOS::CFileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!file.IsOpen()) return false;
  const size_t half = text.size() / 2;
  bool written = WriteAll(file.Get(), text.substr(0, half));
  if (written) Observe(WritePoint::kHalfWritten);
  written = written && WriteAll(file.Get(), text.substr(half)) && ::fsync(file.Get()) == 0;
  const std::string target = directory + "/" + name;
  if (!file.Close() || !written || ::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  SyncDirectory(directory);
  Observe(WritePoint::kReplaced);
  return true;
}

bool ReplaceFileAtPath(const std::string& path, std::string_view text) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ReplaceFile(".", path, text);
  return ReplaceFile(slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1), text);
}

}  // namespace veds
