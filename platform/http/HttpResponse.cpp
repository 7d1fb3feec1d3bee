#include "platform/http/HttpResponse.h"

#include <cstring>
#include <string_view>

#include "platform/files/UriResult.h"
#include "platform/http/HttpEngine.h"

namespace VexaHttp {
namespace {

using VexaFiles::kUriFailed;

struct StatusRule {
  const char* prefix;  // after "HTTP/1.x "
  int32_t answer;
};

// Tried in order, each for HTTP/1.1 and HTTP/1.0; the first match decides.
constexpr StatusRule kStatusRules[] = {
    {"2", kResponseSuccess},   {"3", kResponseRedirect},     {"400", kHttpBadRequest},
    {"401", kHttpUnauthorized}, {"403", kHttpForbidden},      {"404", kHttpNotFound},
    {"4", kUriFailed},          {"503", kResponseIncomplete}, {"504", kHttpGatewayTimeout},
    {"506", kHttpVariantNegotiates}, {"5", kUriFailed},
};

enum class HeaderName { kLastModified, kETag, kConnectionClose, kContentRange, kServer, kLocation,
                        kContentLength, kConnectionKeepAlive, kTransferEncodingChunked };

struct HeaderRule {
  std::string_view prefix;
  HeaderName name;
};

constexpr HeaderRule kHeaderRules[] = {
    {"Last-Modified: ", HeaderName::kLastModified},
    {"ETag: ", HeaderName::kETag},
    {"Connection: close", HeaderName::kConnectionClose},
    {"Content-Range: bytes ", HeaderName::kContentRange},
    {"Server: ", HeaderName::kServer},
    {"Location: ", HeaderName::kLocation},
    {"Content-Length:", HeaderName::kContentLength},
    {"Connection: Keep-Alive", HeaderName::kConnectionKeepAlive},
    {"Transfer-Encoding: chunked", HeaderName::kTransferEncodingChunked},
};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view line, std::string_view prefix) {
  if (line.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(line[i]) != Lower(prefix[i])) return false;
  }
  return true;
}

// Reads an unsigned decimal after optional spaces; false when there is no digit or it overflows.
bool ReadDecimal(std::string_view& text, uint64_t* value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  size_t first = i;
  uint64_t result = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (result > (UINT64_MAX - digit) / 10) return false;
    result = result * 10 + digit;
  }
  if (i == first) return false;
  text.remove_prefix(i);
  *value = result;
  return true;
}

bool Expect(std::string_view& text, char c) {
  if (text.empty() || text[0] != c) return false;
  text.remove_prefix(1);
  return true;
}

// "start-end/total": a range that runs backwards or past its total is refused.
bool ReadContentRange(std::string_view value, HttpResponse* response) {
  uint64_t start = 0, end = 0, total = 0;
  if (!ReadDecimal(value, &start) || !Expect(value, '-') || !ReadDecimal(value, &end) ||
      !Expect(value, '/') || !ReadDecimal(value, &total)) {
    return false;
  }
  if (end < start || end >= total) return false;
  response->rangeOffset = start;
  response->rangeLength = end - start + 1;
  response->totalSize = total;
  response->hasTotalSize = true;
  response->hasContentRange = true;
  return true;
}

int32_t MatchStatus(std::string_view header) {
  for (const StatusRule& rule : kStatusRules) {
    for (std::string_view version : {"HTTP/1.1 ", "HTTP/1.0 "}) {
      if (header.substr(0, version.size()) != version) continue;
      std::string_view rest = header.substr(version.size());
      if (rest.substr(0, std::strlen(rule.prefix)) == rule.prefix) return rule.answer;
    }
  }
  return kUriFailed;
}

// Applies one header line; false when its value is malformed.
bool ApplyHeaderLine(std::string_view line, HttpResponse* response, bool* keepAlive) {
  for (const HeaderRule& rule : kHeaderRules) {
    if (!StartsWithNoCase(line, rule.prefix)) continue;
    std::string_view value = line.substr(rule.prefix.size());
    TextSpan span{value.data(), static_cast<uint32_t>(value.size())};
    switch (rule.name) {
      case HeaderName::kLastModified: response->lastModified = span; return true;
      case HeaderName::kETag: response->etag = span; return true;
      case HeaderName::kServer: response->server = span; return true;
      case HeaderName::kLocation: response->location = span; return true;
      case HeaderName::kConnectionClose: response->close = true; return true;
      case HeaderName::kConnectionKeepAlive: *keepAlive = true; return true;
      case HeaderName::kTransferEncodingChunked: response->chunked = true; return true;
      case HeaderName::kContentRange: return ReadContentRange(value, response);
      case HeaderName::kContentLength: {
        uint64_t length = 0;
        if (!ReadDecimal(value, &length)) return false;
        response->contentLength = length;
        response->hasContentLength = true;
        if (!response->hasContentRange) {
          response->totalSize = length;
          response->hasTotalSize = true;
        }
        return true;
      }
    }
  }
  return true;
}

bool IsSuccessLike(int32_t answer) {
  return answer == kResponseSuccess || answer == kResponseRedirect || answer == kHttpBadRequest ||
         answer == kHttpUnauthorized || answer == kHttpForbidden || answer == kHttpNotFound;
}

}  // namespace

int32_t ParseHttpResponse(const char* data, uint32_t length, HttpResponse* response) {
  *response = HttpResponse{};
  std::string_view bytes(data, length);
  size_t end = bytes.find("\r\n\r\n");
  if (end == std::string_view::npos) return kResponseIncomplete;
  response->headerLength = static_cast<uint32_t>(end + 4);
  std::string_view header = bytes.substr(0, end + 2);
  int32_t answer = MatchStatus(header);
  if (!IsSuccessLike(answer)) return answer;

  bool keepAlive = header.substr(0, 9) == "HTTP/1.1 ";
  bool wellFormed = true;
  size_t lineStart = header.find("\r\n") + 2;
  while (lineStart < header.size()) {
    size_t lineEnd = header.find("\r\n", lineStart);
    wellFormed &= ApplyHeaderLine(header.substr(lineStart, lineEnd - lineStart), response, &keepAlive);
    lineStart = lineEnd + 2;
  }
  if (!keepAlive) response->close = true;
  if (answer != kResponseSuccess) return answer;
  if (!wellFormed) return kUriFailed;
  if (response->chunked) return VexaFiles::kUriNotSupported;
  // With both given, the body length must be the range's.
  if (response->hasContentRange && response->hasContentLength &&
      response->contentLength != response->rangeLength) {
    return kUriFailed;
  }
  return kResponseSuccess;
}

}  // namespace VexaHttp
