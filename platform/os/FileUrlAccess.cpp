#include "platform/os/FileUrl.h"
#include "platform/os/OsResult.h"

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

namespace VexaOS {

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
