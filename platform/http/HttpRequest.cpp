#include "platform/http/HttpRequest.h"

#include <cstring>

#include "platform/files/UriResult.h"
#include "platform/http/HttpUrl.h"

namespace VexaHttp {
namespace {

using VexaFiles::kUriFailed;
using VexaFiles::kUriOk;
using VexaFiles::kUriTooSmall;

constexpr char kDefaultUserAgent[] = "Vexa Agent";
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint32_t kMaxDecimalDigits = 32;

// Appends to a fixed buffer; once something did not fit, everything after is refused too.
class RequestWriter {
 public:
  RequestWriter(char* buffer, uint32_t capacity) : m_buffer(buffer), m_capacity(capacity) {}

  void Text(const char* text, uint32_t length) {
    if (!m_fits || length > m_capacity - m_length) {
      m_fits = false;
      return;
    }
    std::memcpy(m_buffer + m_length, text, length);
    m_length += length;
  }
  void Text(const char* text) { Text(text, static_cast<uint32_t>(std::strlen(text))); }
  void Text(const TextSpan& span) { Text(span.text, span.length); }
  void Decimal(uint64_t value) {
    char digits[kMaxDecimalDigits];
    uint32_t count = 0;
    do {
      digits[kMaxDecimalDigits - 1 - count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    Text(digits + kMaxDecimalDigits - count, count);
  }
  void Base64(const TextSpan& span) {
    if (!m_fits) return;
    uint32_t written = EncodeBase64(span.text, span.length, m_buffer + m_length, m_capacity - m_length);
    if (written == 0 && span.length != 0) m_fits = false;
    m_length += written;
  }
  void LineEnd() { Text("\r\n", 2); }
  bool Fits() const { return m_fits; }
  uint32_t Length() const { return m_length; }

 private:
  char* m_buffer;
  uint32_t m_capacity;
  uint32_t m_length = 0;
  bool m_fits = true;
};

void WriteHeader(RequestWriter& out, const char* name, const char* value) {
  out.Text(name);
  out.Text(value);
  out.LineEnd();
}

}  // namespace

uint32_t EncodeBase64(const char* data, uint32_t length, char* out, uint32_t capacity) {
  uint32_t needed = (length + 2) / 3 * 4;
  if (needed > capacity) return 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(data);
  char* cursor = out;
  for (uint32_t i = 0; i < length; i += 3) {
    uint32_t left = length - i;
    uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
    if (left > 1) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (left > 2) group |= bytes[i + 2];
    *cursor++ = kBase64Alphabet[(group >> 18) & 63];
    *cursor++ = kBase64Alphabet[(group >> 12) & 63];
    *cursor++ = left > 1 ? kBase64Alphabet[(group >> 6) & 63] : '=';
    *cursor++ = left > 2 ? kBase64Alphabet[group & 63] : '=';
  }
  return needed;
}

int32_t BuildHttpRequest(const HttpRequestDescriptor& request, char* buffer, uint32_t capacity,
                         uint32_t* length) {
  HttpUrlParts url;
  if (ParseHttpUrl(request.url, &url) != kUriOk) return kUriFailed;
  if (request.rangeLength == 0 && request.rangeOffset != 0) return kUriFailed;
  bool whole = request.rangeLength == 0;
  if (!whole && request.rangeLength - 1 > UINT64_MAX - request.rangeOffset) return kUriFailed;

  RequestWriter out(buffer, capacity);
  out.Text("GET ");
  if (url.path.length == 0) {
    out.Text("/");
  } else {
    out.Text(url.path);
  }
  out.Text(whole ? " HTTP/1.0" : " HTTP/1.1");
  out.LineEnd();
  out.Text("Host: ");
  out.Text(url.host);
  out.Text(":");
  out.Decimal(url.port);
  out.LineEnd();
  WriteHeader(out, "User-Agent: ", request.userAgent != nullptr ? request.userAgent : kDefaultUserAgent);
  if (request.cookies != nullptr) WriteHeader(out, "Cookie: ", request.cookies);
  if (url.userInfo.text != nullptr && url.userInfo.length != 0) {
    out.Text("Authorization: Basic ");
    out.Base64(url.userInfo);
    out.LineEnd();
  }
  if (!whole) {
    out.Text("Range: bytes=");
    out.Decimal(request.rangeOffset);
    out.Text("-");
    out.Decimal(request.rangeOffset + request.rangeLength - 1);
    out.LineEnd();
  }
  out.Text("Connection: Keep-Alive");
  out.LineEnd();
  if (request.referrer != nullptr) WriteHeader(out, "Referer: ", request.referrer);
  out.LineEnd();
  if (!out.Fits()) return kUriTooSmall;
  *length = out.Length();
  return kUriOk;
}

}  // namespace VexaHttp
