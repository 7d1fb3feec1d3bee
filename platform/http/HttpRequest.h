// Writing one GET request: the request line, Host, User-Agent, the optional Cookie,
// Authorization (Basic, from the URL's user information), Range, Connection and Referer lines.
#pragma once

#include <cstdint>

namespace VexaHttp {

constexpr uint32_t kHttpRequestCapacity = 2048;

struct HttpRequestDescriptor {
  const char* url;
  const char* referrer;   // may be null
  const char* userAgent;  // null: "Vexa Agent"
  const char* cookies;    // may be null
  uint64_t rangeOffset;   // offset and length both 0: the whole resource
  uint64_t rangeLength;
};

// kUriOk with `*length` bytes written (not terminated); kUriTooSmall when a line does not fit
// `capacity`; kUriFailed when the URL does not parse, or for a zero length at a non-zero offset.
int32_t BuildHttpRequest(const HttpRequestDescriptor& request, char* buffer, uint32_t capacity,
                         uint32_t* length);

// Base64 (standard alphabet, "=" padding, no line breaks). Answers the encoded length, or 0 when
// it does not fit `capacity` (nothing is terminated).
uint32_t EncodeBase64(const char* data, uint32_t length, char* out, uint32_t capacity);

}  // namespace VexaHttp
