#include "platform/os/FileUrl.h"
#include "platform/os/OsResult.h"

#include <windows.h>

#include <ctime>

#include "platform/os/win32/WindowsText.h"

namespace VexaOS {
namespace {

// FILETIME counts 100 ns from 1601-01-01; this many seconds lie before 1970-01-01.
constexpr uint64_t kSecondsFrom1601To1970 = 11644473600ull;
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000ull;

uint64_t UnixSeconds(const FILETIME& time) {
  const uint64_t units = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  const uint64_t seconds = units / kFileTimeUnitsPerSecond;
  return seconds > kSecondsFrom1601To1970 ? seconds - kSecondsFrom1601To1970 : 0;
}

bool WidePathOfUrl(const char* url, std::wstring& wide) {
  std::string path;
  return FileUrlToPath(url, path) && Utf8ToWide(path, wide);
}

}  // namespace

int32_t FileInfoFromUrl(const char* url, VexaFileInfo* info) {
  if (!url || !info) return kFileUrlFailed;
  std::wstring path;
  WIN32_FILE_ATTRIBUTE_DATA status;
  if (!WidePathOfUrl(url, path) || !::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &status))
    return kFileUrlFailed;
  info->size = Int64Pair{status.nFileSizeHigh, status.nFileSizeLow};
  const uint64_t now = static_cast<uint64_t>(::time(nullptr));
  const uint64_t accessed = UnixSeconds(status.ftLastAccessTime);
  info->secondsSinceAccess = now > accessed ? static_cast<uint32_t>(now - accessed) : 0;
  return kFileUrlOk;
}

int32_t DeleteFileFromUrl(const char* url) {
  std::wstring path;
  if (!WidePathOfUrl(url, path)) return kFileUrlFailed;
  return ::DeleteFileW(path.c_str()) ? kFileUrlOk : kFileUrlFailed;
}

}  // namespace VexaOS
