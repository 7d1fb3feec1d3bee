// Turning a Location value into the next request URL: resolving it against the current URL,
// keeping credentials only for the same host and port, and escaping the characters a request
// line cannot carry.
#pragma once

#include <cstdint>

#include "platform/http/HttpUrl.h"

namespace VexaHttp {

// Writes the URL a redirect leads to into `out` (terminated). An absolute "http://" Location is
// taken as it stands, except that it inherits the current user information when it names none
// and leads to the same host and port; a Location starting with "/" keeps the current URL up
// to its path. kUriOk; kUriFailed for an empty Location, kUriNotSupported for any other scheme
// or a relative form other than "/..."; kUriTooSmall
// when the result does not fit `capacity` - 1.
int32_t ResolveLocation(const char* currentUrl, const TextSpan& location, char* out,
                        uint32_t capacity);

// Replaces, in this order and each over the whole URL, " ", the quote, "%%", "'", "*", "<", ">",
// "[", "]", "^", "`", "{", "|" and "}" by their per-cent escapes. False (the URL cut short but
// terminated) when the result would not fit `capacity` - 1.
bool EscapeLocation(char* url, uint32_t capacity);

}  // namespace VexaHttp
