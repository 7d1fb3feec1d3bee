#include "platform/os/FileUrl.h"
#include "platform/os/OsResult.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

namespace VexaOS {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return kNotHexDigit;
}

}  // namespace

bool FileUrlToPath(const char* url, std::string& path) {
  path.clear();
  if (!url || strncasecmp(url, "file://", 7) != 0) return false;
  const char* rest = url + 7;
  if (strncasecmp(rest, "localhost/", 10) == 0) rest += 9;
  if (*rest != '/') return false;  // another host, or no absolute path
  std::string decoded;
  for (const char* c = rest; *c; ++c) {
    char byte = *c;
    if (byte == '%') {
      const int high = HexValue(c[1]);
      const int low = high < 0 ? -1 : HexValue(c[2]);
      if (low < 0) return false;
      byte = static_cast<char>(high * 16 + low);
      if (byte == 0) return false;
      c += 2;
    }
    decoded.push_back(byte);
    if (decoded.size() >= kFileUrlPathLimit) return false;
  }
  path = std::move(decoded);
  return true;
}

int32_t FileInfoFromUrl(const char* url, VexaFileInfo* info) {
  if (!url || !info) return kFileUrlFailed;
  std::string path;
  if (!FileUrlToPath(url, path)) return kFileUrlFailed;
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return kFileUrlFailed;
  info->size = Int64PairFrom(static_cast<uint64_t>(status.st_size));
  const time_t now = ::time(nullptr);
  info->secondsSinceAccess = now > status.st_atime ? static_cast<uint32_t>(now - status.st_atime) : 0;
  return kFileUrlOk;
}

int32_t DeleteFileFromUrl(const char* url) {
  std::string path;
  if (!FileUrlToPath(url, path)) return kFileUrlFailed;
  return ::unlink(path.c_str()) == 0 ? kFileUrlOk : kFileUrlFailed;
}

}  // namespace VexaOS
