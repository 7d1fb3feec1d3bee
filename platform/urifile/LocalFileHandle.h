// A local file named by a "file:" URL, over one POSIX file descriptor (a Win32 file handle on
// Windows, read and written at the kept position through OVERLAPPED offsets). It keeps its own 64-bit
// position instead of asking the system, so that its owner can tell without a system call
// whether a read needs a seek first.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files/UriResult.h"
#include "platform/os/FileDescriptor.h"

namespace VexaOS {
struct MemoryArena;
}

namespace VexaUri {

// Open flags (bits).
enum LocalFileFlag : uint32_t {
  kLocalCreateOnlyNew = 0x04,  // with kLocalCreate: fail when the file exists
  kLocalWrite = 0x08,
  kLocalRead = 0x10,
  kLocalCreate = 0x40,
  kLocalSparse = 0x80,  // files are sparse here already: accepted, nothing to do
};

// Results besides kUriOk.
enum LocalFileResult : int32_t {
  kLocalSystemFailure = 1,
  kLocalMovedNothing = VexaFiles::kUriMovedNothing,
};

class LocalFileHandle {
 public:
  // Made from `arena` (the heap without one) and given back to it by Destroy.
  static LocalFileHandle* Create(VexaOS::MemoryArena* arena);
  static void Destroy(LocalFileHandle* handle);

  // A URL that is not a local "file:" URL fails with kLocalSystemFailure.
  int32_t Open(const char16_t* url, uint32_t flags);
  void Close();
  bool IsOpen() const;
  int32_t Seek(uint64_t offset, VexaFiles::SeekOrigin origin);
  uint64_t Tell() const { return m_position; }
  // `count` in: bytes asked; out: bytes moved. Moving 0 bytes answers kLocalMovedNothing.
  int32_t Read(void* buffer, uint32_t* count);
  int32_t Write(const void* buffer, uint32_t* count);
  // The size of the file system entry of the path.
  int32_t Size(uint64_t* size) const;

  // Diagnostic counter: seeks that reached the system, process-wide.
  static uint64_t SystemSeekCount();

 private:
  explicit LocalFileHandle(VexaOS::MemoryArena* arena) : m_arena(arena) {}
  // The position a seek asks for; false for an unknown origin, a size that cannot be read, or
  // a position beyond what the system's signed 64-bit offsets hold.
  bool SeekTarget(uint64_t offset, VexaFiles::SeekOrigin origin, uint64_t* target) const;
  ~LocalFileHandle() = default;

#ifdef _WIN32
  void* m_file = nullptr;  // the HANDLE, null when closed
#else
  VexaOS::CFileDescriptor m_fd;
#endif
  std::string m_path;
  VexaOS::MemoryArena* m_arena;
  uint64_t m_position = 0;
};

inline bool LocalFileHandle::SeekTarget(uint64_t offset, VexaFiles::SeekOrigin origin, uint64_t* target) const {
  switch (origin) {
    case VexaFiles::kSeekForward: *target = m_position + offset; break;
    case VexaFiles::kSeekBackward: *target = offset > m_position ? 0 : m_position - offset; break;
    case VexaFiles::kSeekAbsolute: *target = offset; break;
    case VexaFiles::kSeekFromEnd: {
      uint64_t size = 0;
      if (Size(&size) != VexaFiles::kUriOk) return false;
      *target = offset > size ? 0 : size - offset;
      break;
    }
    default: return false;
  }
  return *target <= static_cast<uint64_t>(INT64_MAX);
}

}  // namespace VexaUri
