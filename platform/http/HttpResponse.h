// Reading a response header: the status line decides the answer, the header lines fill the
// response record. Values point into the caller's bytes.
#pragma once

#include <cstdint>

#include "platform/http/HttpUrl.h"

namespace VexaHttp {

// Answers beyond the failure codes of HttpEngine.h.
enum HttpResponseAnswer : int32_t {
  kResponseSuccess = 0,
  kResponseIncomplete = 1,  // no empty line yet (a "503" answers this too)
  kResponseRedirect = 3,
};

struct HttpResponse {
  TextSpan location;  // each: the value without its name and line end; text null when absent
  TextSpan lastModified;
  TextSpan server;
  TextSpan etag;
  uint64_t totalSize;
  uint64_t rangeOffset;  // from Content-Range
  uint64_t rangeLength;
  uint64_t contentLength;
  uint32_t headerLength;  // bytes up to and including the empty line
  bool close;
  bool hasTotalSize;
  bool hasContentRange;
  bool hasContentLength;
  bool chunked;
};

// kResponseSuccess, kResponseIncomplete, kResponseRedirect, a failure code of the status (13, 14,
// 15, 16, 5, 17, or kUriFailed for any other), kUriFailed for a success whose numbers do not
// parse, overflow or contradict each other, and kUriNotSupported for a chunked success body.
int32_t ParseHttpResponse(const char* data, uint32_t length, HttpResponse* response);

}  // namespace VexaHttp
