// Splitting an "http://" URL into the parts a request and a connect need. The parts point into
// the URL; nothing is copied.
#pragma once

#include <cstdint>

namespace VexaHttp {

constexpr uint16_t kHttpDefaultPort = 80;
constexpr uint32_t kHttpUrlCapacity = 4096;  // a connection's URL buffer, terminator included
constexpr uint32_t kHttpMaxHostLength = 511;

struct TextSpan {
  const char* text;
  uint32_t length;
};

struct HttpUrlParts {
  TextSpan host;      // as written; an IPv6 literal keeps its brackets
  TextSpan path;      // from the first "/" or ":" after the host and port; may be empty
  TextSpan userInfo;  // text before the first "@"; text null when there is none
  uint16_t port;
};

// kUriOk, or kUriNullArgument when the URL does not begin with "http://" (compared
// case-sensitively) or the port does not fit 16 bits.
int32_t ParseHttpUrl(const char* url, HttpUrlParts* parts);

// The host as the resolver wants it: an IPv6 literal loses its brackets. False when it does not
// fit `capacity` - 1.
bool CopyHostForResolver(const TextSpan& host, char* buffer, uint32_t capacity);

}  // namespace VexaHttp
