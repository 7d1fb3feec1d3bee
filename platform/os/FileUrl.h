// File helpers that take file URLs: "file:///abs/path" (also "file://localhost/abs/path"), the
// scheme in any case, with percent-escapes decoded. URLs are narrow (UTF-8) strings. The path
// they name may be at most kFileUrlPathLimit - 1 bytes long. On Windows the URL names a drive,
// "file:///C:/dir/x", and the path takes the system's form, "C:\dir\x" (still UTF-8).
#pragma once

#include <cstdint>
#include <string>

#include "platform/os/Int64Pair.h"
#include "platform/os/OsResult.h"

namespace VexaOS {

constexpr size_t kFileUrlPathLimit = 2048;  // the path buffer, terminator included

struct VexaFileInfo {
  Int64Pair size;
  uint32_t secondsSinceAccess;  // now (UTC seconds since 1970) less the last access time
};

// The path of a file URL; false for anything that is not a file URL of a local absolute path,
// for a bad or NUL escape, or for a path too long for the buffer.
bool FileUrlToPath(const char* url, std::string& path);

// 0 with the record filled, 1 for null arguments, a URL that is not a file URL, or a missing file.
int32_t FileInfoFromUrl(const char* url, VexaFileInfo* info);
// 0 when the file was deleted, 1 otherwise.
int32_t DeleteFileFromUrl(const char* url);

}  // namespace VexaOS
