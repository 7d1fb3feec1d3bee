#include "platform/files/PortableFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/files/PortableFileRecord.h"
#include "platform/files/TextConvert.h"
#include "platform/os/MemoryArena.h"
#include "platform/os/FileDescriptor.h"
#include "platform/os/DirectoryHandle.h"

namespace VexaFiles {
namespace {

int32_t OpenResultFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return kPortableNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EISDIR:
    case EWOULDBLOCK:
      return kPortableAccessDenied;
    case EEXIST:
      return kPortableExists;
    case EINVAL:
    case ENAMETOOLONG:
      return kPortableInvalid;
    case EMFILE:
    case ENFILE:
      return kPortableTooManyOpen;
    default:
      return kPortableOpenFailed;
  }
}

bool WideToPath(const char16_t* name, std::string& path) {
  return Utf16ToUtf8String(std::u16string_view(name, WideLength(name)), path);
}

}  // namespace

int32_t PortableFileOpen(uint32_t flags, VexaOS::MemoryArena* allocator, const char16_t* name,
                         PortableFile** out) {
  if (!out) return kPortableNoHandle;
  *out = nullptr;
  if (flags & kPortableConsole) {
    PortableFile* file = NewRecord(allocator);
    if (!file) return kPortableNoMemory;
    file->flags = flags;
    file->stream = stdin;  // binary already: this platform has no text translation
    file->console = true;
    if (name && !(file->name = CopyWide(allocator, name, WideLength(name)))) {
      FreeRecord(file);
      return kPortableNoMemory;
    }
    *out = file;
    return kPortableOk;
  }
  if (!name) return kPortableNoName;
  const uint32_t access = flags & kPortableAccessMask;
  const bool writes = access >= kPortableWrite;
  if ((flags & kPortableTruncate) && !writes) return kPortableTruncateNeedsWrite;
  std::string path;
  if (!WideToPath(name, path)) return kPortableInvalid;

  int openFlags = O_CLOEXEC;
  const char* mode = "rb";
  if (access == kPortableWrite) {
    openFlags |= O_WRONLY | O_CREAT;
    mode = "wb";
  } else if (access == kPortableReadWrite) {
    openFlags |= O_RDWR;
    mode = "r+b";
  } else {
    openFlags |= O_RDONLY;
  }
  // Opened without waiting: a FIFO that no one writes to would otherwise block the open for
  // ever. Reads wait again afterwards.
  VexaOS::CFileDescriptor owned(::open(path.c_str(), openFlags | O_NONBLOCK, 0666));
  const int fd = owned.Get();
  if (fd < 0) return OpenResultFromErrno(errno);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  auto fail = [](int error) { return OpenResultFromErrno(error); };  // the owner closes
  struct stat info;
  if (::fstat(fd, &info) != 0) return fail(errno);
  if (S_ISDIR(info.st_mode)) return fail(EACCES);
  // Sharing: every opening takes a lock on the file; kPortableDenyShare takes it exclusively.
  if (::flock(fd, ((flags & kPortableDenyShare) ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
    return fail(errno);
  // Truncation waits for the lock, so a file that is open without sharing keeps its bytes.
  if ((flags & kPortableTruncate) && ::ftruncate(fd, 0) != 0) return fail(errno);
  ::posix_fadvise(fd, 0, 0,
                  (flags & kPortableSequential) ? POSIX_FADV_SEQUENTIAL : POSIX_FADV_RANDOM);

  PortableFile* file = NewRecord(allocator);
  if (!file) return kPortableNoMemory;
  file->flags = flags;
  file->name = CopyWide(allocator, name, WideLength(name));
  if (!file->name) {
    FreeRecord(file);
    return kPortableNoMemory;
  }
  file->stream = ::fdopen(fd, mode);
  if (!file->stream) {
    int error = errno;
    FreeRecord(file);
    return OpenResultFromErrno(error);
  }
  owned.Release();  // the stream owns it now
  *out = file;
  return kPortableOk;
}

int64_t PortableFileSize(const char16_t* name) {
  if (!name) return kPortableNoHandle;
  std::string path;
  if (!WideToPath(name, path)) return kPortableNoHandle;
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return kPortableNoHandle;
  return static_cast<int64_t>(info.st_size);
}

PortableEntryKind PortableFileKind(const char16_t* name) {
  std::string path;
  struct stat info;
  if (!name || !WideToPath(name, path) || ::stat(path.c_str(), &info) != 0) return kPortableNoEntry;
  return S_ISREG(info.st_mode) ? kPortableRegularFile : kPortableOtherEntry;
}

int32_t PortableFileRename(const char16_t* from, const char16_t* to) {
  if (!from || !to) return kPortableNoName;
  std::string fromPath;
  std::string toPath;
  if (!WideToPath(from, fromPath) || !WideToPath(to, toPath)) return kPortableInvalid;
  return std::rename(fromPath.c_str(), toPath.c_str()) == 0 ? kPortableOk : OpenResultFromErrno(errno);
}

// ---- directories

struct PortableDirState {
  std::vector<std::pair<std::string, bool>> entries;  // UTF-8 name, directory flag
  size_t next = 0;
};

int32_t PortableDirOpen(VexaOS::MemoryArena* allocator, const char16_t* path, PortableDir** out) {
  if (!out) return kPortableNoHandle;
  *out = nullptr;
  if (!path) return kPortableNoName;
  size_t length = WideLength(path);
  if (length > 0 && path[length - 1] == u'/') --length;
  std::u16string pattern;
  pattern.reserve(length + 4);
  pattern.append(path, length);
  if (length == 0 || path[length - 1] != u'\\') pattern.push_back(u'\\');
  for (char16_t c : {u'*', u'.', u'*'}) pattern.push_back(c);
  void* memory = VexaOS::ArenaOrHeapAlloc(allocator, sizeof(PortableDir));
  if (!memory) return kPortableNoMemory;
  auto* dir = new (memory) PortableDir{allocator, nullptr, nullptr};
  dir->pattern = CopyWide(allocator, pattern.data(), pattern.size());
  if (!dir->pattern) {
    VexaOS::ArenaOrHeapFree(allocator, dir);
    return kPortableNoMemory;
  }
  *out = dir;
  return kPortableOk;
}

int32_t PortableDirNext(PortableDir* dir, PortableDirEntry* entry) {
  if (!dir || !entry) return kPortableNoHandle;
  if (!dir->state) {
    // The pattern without its "*.*" and the backslash before it; the root when nothing is left.
    const size_t length = WideLength(dir->pattern) - 4;
    std::string where;
    if (!Utf16ToUtf8String(std::u16string_view(dir->pattern, length), where)) return kPortableInvalid;
    if (where.empty()) where.push_back('/');
    VexaOS::DirectoryHandle handle = VexaOS::OpenDirectory(where.c_str());
    if (!handle) return OpenResultFromErrno(errno);
    auto* state = new (std::nothrow) PortableDirState;
    if (!state) return kPortableNoMemory;
    while (dirent* item = ::readdir(handle.get())) {
      bool isDirectory = item->d_type == DT_DIR;
      if (item->d_type == DT_UNKNOWN || item->d_type == DT_LNK) {
        struct stat info;
        std::string full = where + "/" + item->d_name;
        isDirectory = ::stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
      }
      state->entries.emplace_back(item->d_name, isDirectory);
    }
    std::sort(state->entries.begin(), state->entries.end());
    dir->state = state;
  }
  PortableDirState* state = dir->state;
  while (state->next < state->entries.size()) {
    const auto& [name, isDirectory] = state->entries[state->next++];
    if (Utf8ToUtf16(name.data(), name.size(), entry->name, kPortableDirNameChars) < 0) continue;
    entry->isDirectory = isDirectory;
    return kPortableOk;
  }
  return kPortableEndOfList;
}

int32_t PortableDirClose(PortableDir* dir) {
  if (!dir) return kPortableCloseFailed;
  VexaOS::MemoryArena* allocator = dir->allocator;
  delete dir->state;
  VexaOS::ArenaOrHeapFree(allocator, dir->pattern);
  dir->~PortableDir();
  VexaOS::ArenaOrHeapFree(allocator, dir);
  return kPortableOk;
}

}  // namespace VexaFiles
