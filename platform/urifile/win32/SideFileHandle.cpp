// The partial copy's files over Win32 handles. Every handle lets others read, write and delete
// beside it: the owner reads the data file while its download thread writes it, and a side file
// being read must not stop a writer from renaming its replacement over it.
#include "platform/urifile/SideFileHandle.h"

#include <windows.h>
#include <winioctl.h>

#include <cctype>

#include "platform/files/TextConvert.h"

namespace VexaUri {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kPathUnits = 2048;  // as long as a file URL's path may be, terminator included

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(offset);
  where.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return where;
}

HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
  std::u16string wide;
  if (!VexaFiles::Utf8ToUtf16String(path, wide)) return INVALID_HANDLE_VALUE;
  return ::CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), access, kShareAll, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A drive path ("C:\dir\x", either slash) as it is; a path from the root of the current drive
// ("\dir\x", as a POSIX-minded caller writes it) with that drive. A relative path, a
// drive-relative one ("C:x") and a UNC name have no file URL of a local path.
bool WithDrive(std::string_view path, std::string& absolute) {
  if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && IsSeparator(path[2])) {
    absolute = path;
    return true;
  }
  if (path.size() < 2 || !IsSeparator(path[0]) || IsSeparator(path[1])) return false;
  std::u16string wide;
  if (!VexaFiles::Utf8ToUtf16String(std::string(path), wide)) return false;
  wchar_t full[kPathUnits];
  const DWORD length = ::GetFullPathNameW(reinterpret_cast<const wchar_t*>(wide.c_str()), kPathUnits, full, nullptr);
  if (length == 0 || length >= kPathUnits) return false;
  return VexaFiles::Utf16ToUtf8String(std::u16string_view(reinterpret_cast<const char16_t*>(full), length), absolute);
}

}  // namespace

SideFileOpen SideFileHandle::OpenForReading(const std::string& path) {
  m_file.reset();
  HANDLE file = Open(path, GENERIC_READ, OPEN_EXISTING);
  if (file != INVALID_HANDLE_VALUE) {
    m_file.reset(file);
    return SideFileOpen::kOpened;
  }
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? SideFileOpen::kMissing
                                                                         : SideFileOpen::kFailed;
}

bool SideFileHandle::OpenForUpdate(const std::string& path, bool empty) {
  m_file.reset();
  HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE, empty ? CREATE_ALWAYS : OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) return false;
  m_file.reset(file);
  // Missing ranges stay holes where the file system has sparse files; elsewhere the gap is
  // filled with zeros, which the mask never names, so a refusal changes nothing that is read.
  DWORD ignored = 0;
  ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
  return true;
}

void SideFileHandle::Close() { m_file.reset(); }

bool SideFileHandle::IsOpen() const { return m_file != nullptr; }

bool SideFileHandle::Size(uint64_t* size) const {
  LARGE_INTEGER bytes;
  if (!::GetFileSizeEx(m_file.get(), &bytes)) return false;
  *size = static_cast<uint64_t>(bytes.QuadPart);
  return true;
}

bool SideFileHandle::ReadAt(uint64_t offset, void* bytes, uint32_t count, uint32_t* got) const {
  char* at = static_cast<char*>(bytes);
  *got = 0;
  while (*got < count) {
    OVERLAPPED where = At(offset + *got);
    DWORD n = 0;
    if (!::ReadFile(m_file.get(), at + *got, count - *got, &n, &where))
      return ::GetLastError() == ERROR_HANDLE_EOF;  // a read that starts at or past the end
    if (n == 0) break;
    *got += n;
  }
  return true;
}

bool SideFileHandle::WriteAt(uint64_t offset, const void* bytes, uint32_t count) {
  const char* at = static_cast<const char*>(bytes);
  for (uint32_t done = 0; done < count;) {
    OVERLAPPED where = At(offset + done);
    DWORD n = 0;
    if (!::WriteFile(m_file.get(), at + done, count - done, &n, &where) || n == 0) return false;
    done += n;
  }
  return true;
}

bool SideFileHandle::Sync() { return ::FlushFileBuffers(m_file.get()) != 0; }

bool SideFileHandle::Truncate() {
  LARGE_INTEGER start{};
  return ::SetFilePointerEx(m_file.get(), start, nullptr, FILE_BEGIN) && ::SetEndOfFile(m_file.get());
}

std::string SideFileHandle::UrlOfLocalPath(std::string_view path) {
  std::string absolute;
  if (!WithDrive(path, absolute)) return {};
  std::string url = "file:///";
  for (char c : absolute) {
    if (c == '%') url += "%25";
    else url += c == '\\' ? '/' : c;
  }
  return url;
}

}  // namespace VexaUri
