#include "platform/os/FileUrl.h"
#include "platform/os/OsResult.h"

#include <cctype>
#include <cstring>

namespace VexaOS {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return kNotHexDigit;
}

bool StartsWithIgnoringCase(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix)
    if (std::tolower(static_cast<unsigned char>(*text)) != *prefix) return false;
  return true;
}

#ifdef _WIN32
// The decoded URL path holds one character more than the path: "/C:/x" is "C:\x".
constexpr size_t kUrlPathExtra = 1;

// "/C:/dir/x" names C:\dir\x; a path without a drive is not absolute on Windows.
bool ToDrivePath(std::string& path) {
  if (path.size() < 4 || path[0] != '/' || !std::isalpha(static_cast<unsigned char>(path[1])) ||
      path[2] != ':' || path[3] != '/')
    return false;
  path.erase(0, 1);
  for (char& c : path)
    if (c == '/') c = '\\';
  return true;
}
#else
constexpr size_t kUrlPathExtra = 0;
#endif

}  // namespace

bool FileUrlToPath(const char* url, std::string& path) {
  path.clear();
  if (!url || !StartsWithIgnoringCase(url, "file://")) return false;
  const char* rest = url + 7;
  if (StartsWithIgnoringCase(rest, "localhost/")) rest += 9;
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
    if (decoded.size() >= kFileUrlPathLimit + kUrlPathExtra) return false;
  }
#ifdef _WIN32
  if (!ToDrivePath(decoded)) return false;
#endif
  path = std::move(decoded);
  return true;
}

}  // namespace VexaOS
