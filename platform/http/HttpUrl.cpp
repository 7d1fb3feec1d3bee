#include "platform/http/HttpUrl.h"

#include <cstring>

#include "platform/files/UriResult.h"

namespace VexaHttp {
namespace {

constexpr char kScheme[] = "http://";
constexpr uint32_t kSchemeLength = sizeof kScheme - 1;
constexpr uint32_t kMaxPort = 65535;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Where the host ends: an IPv6 literal runs to its closing bracket, any other host to the first
// "/" or ":".
const char* HostEnd(const char* host) {
  if (*host == '[') {
    const char* close = std::strchr(host, ']');
    if (close != nullptr) return close + 1;
  }
  return host + std::strcspn(host, "/:");
}

}  // namespace

int32_t ParseHttpUrl(const char* url, HttpUrlParts* parts) {
  if (url == nullptr || parts == nullptr) return VexaFiles::kUriNullArgument;
  if (std::strncmp(url, kScheme, kSchemeLength) != 0) return VexaFiles::kUriNullArgument;
  const char* rest = url + kSchemeLength;
  *parts = HttpUrlParts{{rest, 0}, {nullptr, 0}, {nullptr, 0}, kHttpDefaultPort};
  const char* at = std::strchr(rest, '@');
  const char* host = rest;
  if (at != nullptr) {
    parts->userInfo = {rest, static_cast<uint32_t>(at - rest)};
    host = at + 1;
  }
  const char* hostEnd = HostEnd(host);
  parts->host = {host, static_cast<uint32_t>(hostEnd - host)};
  const char* cursor = hostEnd;
  if (*cursor == ':') {
    // An empty port ("host:/x") keeps 80 and does not start the path.
    uint32_t port = IsDigit(cursor[1]) ? 0 : kHttpDefaultPort;
    for (++cursor; IsDigit(*cursor); ++cursor) {
      port = port * 10 + static_cast<uint32_t>(*cursor - '0');
      if (port > kMaxPort) return VexaFiles::kUriNullArgument;
    }
    parts->port = static_cast<uint16_t>(port);
  }
  const char* path = cursor + std::strcspn(cursor, "/:");
  parts->path = {path, static_cast<uint32_t>(std::strlen(path))};
  return VexaFiles::kUriOk;
}

bool CopyHostForResolver(const TextSpan& host, char* buffer, uint32_t capacity) {
  TextSpan bare = host;
  if (bare.length >= 2 && bare.text[0] == '[' && bare.text[bare.length - 1] == ']') {
    bare = {bare.text + 1, bare.length - 2};
  }
  if (bare.length + 1 > capacity) return false;
  std::memcpy(buffer, bare.text, bare.length);
  buffer[bare.length] = '\0';
  return true;
}

}  // namespace VexaHttp
