// The portable file layer's system part on Windows: files are opened by wide name with
// CreateFileW (access, sharing and the access-pattern hint from the open flags) and then wrapped
// into a C stream of the matching mode; directories are listed with FindFirstFileW.
#include "platform/files/PortableFile.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/files/PortableFileRecord.h"
#include "platform/files/TextConvert.h"
#include "platform/os/MemoryArena.h"

namespace VexaFiles {
namespace {

int32_t OpenResultFromError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return kPortableNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return kPortableAccessDenied;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return kPortableExists;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return kPortableInvalid;
    case ERROR_TOO_MANY_OPEN_FILES:
      return kPortableTooManyOpen;
    default:
      return kPortableOpenFailed;
  }
}

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// Names reach the system as UTF-16 already; a name that is not well-formed UTF-16 is refused all
// the same, as on the systems that take UTF-8.
bool WellFormed(const char16_t* name) {
  std::string ignored;
  return Utf16ToUtf8String(std::u16string_view(name, WideLength(name)), ignored);
}

// Owns a file handle until a C stream takes it over.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : m_handle(handle) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() {
    if (Valid()) ::CloseHandle(m_handle);
  }
  bool Valid() const { return m_handle != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return m_handle; }
  HANDLE Release() { return std::exchange(m_handle, INVALID_HANDLE_VALUE); }

 private:
  HANDLE m_handle;
};

struct OpenRequest {
  DWORD access;
  DWORD disposition;
  int descriptorFlags;  // for _open_osfhandle
  const char* mode;     // for _fdopen
};

OpenRequest RequestFor(uint32_t flags) {
  const bool text = flags & kPortableText;
  switch (flags & kPortableAccessMask) {
    case kPortableWrite:  // a missing file is made; an existing one keeps its bytes unless truncated
      return {GENERIC_WRITE, OPEN_ALWAYS, _O_WRONLY, text ? "wt" : "wb"};
    case kPortableReadWrite:
      return {GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, _O_RDWR, text ? "r+t" : "r+b"};
    default:
      return {GENERIC_READ, OPEN_EXISTING, _O_RDONLY, text ? "rt" : "rb"};
  }
}

// Hands the handle to a C stream of the request's mode; on failure the handle is closed.
FILE* StreamOver(OwnedHandle& handle, const OpenRequest& request, uint32_t flags) {
  const int textFlag = (flags & kPortableText) ? _O_TEXT : _O_BINARY;
  const int descriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle.Get()), request.descriptorFlags | textFlag);
  if (descriptor < 0) return nullptr;
  handle.Release();  // the descriptor owns it now
  FILE* stream = ::_fdopen(descriptor, request.mode);
  if (!stream) ::_close(descriptor);
  return stream;
}

PortableFile* ConsoleRecord(uint32_t flags, VexaOS::MemoryArena* allocator, const char16_t* name) {
  PortableFile* file = NewRecord(allocator);
  if (!file) return nullptr;
  ::_setmode(::_fileno(stdin), _O_BINARY);  // bytes as they come, no line-end translation
  ::_setmode(::_fileno(stdout), _O_BINARY);
  file->flags = flags;
  file->stream = stdin;
  file->console = true;
  if (name && !(file->name = CopyWide(allocator, name, WideLength(name)))) {
    FreeRecord(file);
    return nullptr;
  }
  return file;
}

}  // namespace

int32_t PortableFileOpen(uint32_t flags, VexaOS::MemoryArena* allocator, const char16_t* name,
                         PortableFile** out) {
  if (!out) return kPortableNoHandle;
  *out = nullptr;
  if (flags & kPortableConsole) {
    *out = ConsoleRecord(flags, allocator, name);
    return *out ? kPortableOk : kPortableNoMemory;
  }
  if (!name) return kPortableNoName;
  const bool writes = (flags & kPortableAccessMask) >= kPortableWrite;
  if ((flags & kPortableTruncate) && !writes) return kPortableTruncateNeedsWrite;
  if (!WellFormed(name)) return kPortableInvalid;

  const OpenRequest request = RequestFor(flags);
  const DWORD share = (flags & kPortableDenyShare) ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
  const DWORD hint = (flags & kPortableSequential) ? FILE_FLAG_SEQUENTIAL_SCAN : FILE_FLAG_RANDOM_ACCESS;
  OwnedHandle handle(::CreateFileW(Wide(name), request.access, share, nullptr, request.disposition,
                                   FILE_ATTRIBUTE_NORMAL | hint, nullptr));
  if (!handle.Valid()) return OpenResultFromError(::GetLastError());
  // Truncation comes after the sharing check of the open, so a file open without sharing keeps
  // its bytes.
  if ((flags & kPortableTruncate) && !::SetEndOfFile(handle.Get())) return OpenResultFromError(::GetLastError());

  PortableFile* file = NewRecord(allocator);
  if (!file) return kPortableNoMemory;
  file->flags = flags;
  file->name = CopyWide(allocator, name, WideLength(name));
  if (!file->name) {
    FreeRecord(file);
    return kPortableNoMemory;
  }
  file->stream = StreamOver(handle, request, flags);
  if (!file->stream) {
    FreeRecord(file);
    return kPortableTooManyOpen;  // the C runtime's descriptor table is full
  }
  *out = file;
  return kPortableOk;
}

int64_t PortableFileSize(const char16_t* name) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!name || !::GetFileAttributesExW(Wide(name), GetFileExInfoStandard, &info)) return kPortableNoHandle;
  return static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
}

PortableEntryKind PortableFileKind(const char16_t* name) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!name || !::GetFileAttributesExW(Wide(name), GetFileExInfoStandard, &info)) return kPortableNoEntry;
  const DWORD other = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
  return (info.dwFileAttributes & other) ? kPortableOtherEntry : kPortableRegularFile;
}

int32_t PortableFileRename(const char16_t* from, const char16_t* to) {
  if (!from || !to) return kPortableNoName;
  if (!WellFormed(from) || !WellFormed(to)) return kPortableInvalid;
  return ::MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING) ? kPortableOk
                                                                       : OpenResultFromError(::GetLastError());
}

// ---- directories

struct PortableDirState {
  std::vector<std::pair<std::u16string, bool>> entries;  // name, directory flag
  size_t next = 0;
};

namespace {

// Owns a search handle of FindFirstFileW.
class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : m_handle(handle) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (Valid()) ::FindClose(m_handle);
  }
  bool Valid() const { return m_handle != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return m_handle; }

 private:
  HANDLE m_handle;
};

// Every entry the pattern matches; the order is made the same as on the other systems (byte
// order of the UTF-8 names, which for UTF-16 is unit order but for surrogates) by sorting.
int32_t ReadEntries(const char16_t* pattern, PortableDirState& state) {
  WIN32_FIND_DATAW found;
  FindHandle search(::FindFirstFileW(Wide(pattern), &found));
  if (!search.Valid()) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? kPortableOk : OpenResultFromError(error);  // an empty root
  }
  do {
    std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
    state.entries.emplace_back(std::move(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  } while (::FindNextFileW(search.Get(), &found));
  std::sort(state.entries.begin(), state.entries.end(), [](const auto& a, const auto& b) {
    std::string left, right;
    Utf16ToUtf8String(a.first, left);
    Utf16ToUtf8String(b.first, right);
    return left < right;
  });
  return kPortableOk;
}

}  // namespace

int32_t PortableDirOpen(VexaOS::MemoryArena* allocator, const char16_t* path, PortableDir** out) {
  if (!out) return kPortableNoHandle;
  *out = nullptr;
  if (!path) return kPortableNoName;
  size_t length = WideLength(path);
  if (length > 0 && path[length - 1] == u'/') --length;
  std::u16string pattern(path, length);
  if (length == 0 || path[length - 1] != u'\\') pattern.push_back(u'\\');
  pattern += u"*.*";
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
    auto* state = new (std::nothrow) PortableDirState;
    if (!state) return kPortableNoMemory;
    if (int32_t result = ReadEntries(dir->pattern, *state); result != kPortableOk) {
      delete state;
      return result;
    }
    dir->state = state;
  }
  PortableDirState* state = dir->state;
  while (state->next < state->entries.size()) {
    const auto& [name, isDirectory] = state->entries[state->next++];
    if (name.size() >= kPortableDirNameChars) continue;
    std::copy(name.begin(), name.end(), entry->name);
    entry->name[name.size()] = 0;
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
