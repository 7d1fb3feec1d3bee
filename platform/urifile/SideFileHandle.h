// One open file of a partial copy (a side file being read, or the data file), by the system's
// own calls: POSIX descriptors here, Win32 handles in win32/SideFileHandle.cpp. Reads and writes
// name their offset, so no shared file position is involved and reads may run on one thread
// while another writes. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#ifdef _WIN32
#include "platform/os/OsHandle.h"
#else
#include "platform/os/FileDescriptor.h"
#endif

namespace VexaUri {

enum class SideFileOpen { kOpened, kMissing, kFailed };

class SideFileHandle {
 public:
  SideFileHandle() = default;
  SideFileHandle(const SideFileHandle&) = delete;
  SideFileHandle& operator=(const SideFileHandle&) = delete;

  // Read access to an existing file. kMissing when neither the file nor its folder exists.
  SideFileOpen OpenForReading(const std::string& path);
  // Read and write access, the file created when missing; `empty` cuts it to 0 bytes. Other
  // handles on the same file may read and write beside this one.
  bool OpenForUpdate(const std::string& path, bool empty);
  void Close();
  bool IsOpen() const;

  bool Size(uint64_t* size) const;
  // Reads up to `count` bytes at `offset`; `got` < `count` only at the end of the file.
  bool ReadAt(uint64_t offset, void* bytes, uint32_t count, uint32_t* got) const;
  // Writes all `count` bytes at `offset`, extending the file as needed.
  bool WriteAt(uint64_t offset, const void* bytes, uint32_t count);
  // Returns once the data written have reached the disk.
  bool Sync();
  bool Truncate();

  // The file URL of a local absolute path, '%' escaped: "file:///dir/x" here, "file:///C:/dir/x"
  // on Windows. Empty when the path is not absolute in the system's terms.
  static std::string UrlOfLocalPath(std::string_view path);

 private:
#ifdef _WIN32
  VexaOS::COsHandle m_file;
#else
  VexaOS::CFileDescriptor m_file;
#endif
};

}  // namespace VexaUri
