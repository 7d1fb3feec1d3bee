#include "platform/urifile/UriText.h"

#include <cstring>

#include "platform/files/TextConvert.h"

namespace VexaUri {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code point at text[at], advancing `at` past it.
char32_t NextCodePoint(const char16_t* text, size_t& at) {
  const char32_t unit = text[at++];
  const bool high = unit >= 0xD800 && unit <= 0xDBFF;
  const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
  if (low) return kReplacement;
  if (!high) return unit;
  const char32_t next = text[at];
  if (next < 0xDC00 || next > 0xDFFF) return kReplacement;
  ++at;
  return 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
}

}  // namespace

size_t Utf8LengthOfWide(const char16_t* text) {
  if (!text) return 0;
  size_t bytes = 0;
  char scratch[4];
  for (size_t at = 0; text[at] != 0;) bytes += VexaFiles::CodePointToUtf8(NextCodePoint(text, at), scratch);
  return bytes;
}

bool WideToUtf8Buffer(const char16_t* text, char* out, size_t capacity) {
  if (!out || capacity == 0) return false;
  out[0] = 0;
  if (!text) return false;
  size_t used = 0;
  for (size_t at = 0; text[at] != 0;) {
    char bytes[4];
    const int length = VexaFiles::CodePointToUtf8(NextCodePoint(text, at), bytes);
    if (used + static_cast<size_t>(length) + 1 > capacity) {
      out[0] = 0;
      return false;
    }
    std::memcpy(out + used, bytes, static_cast<size_t>(length));
    used += static_cast<size_t>(length);
  }
  out[used] = 0;
  return true;
}

bool Utf8ToWideBuffer(const char* text, char16_t* out, size_t capacity) {
  if (!out || capacity == 0) return false;
  out[0] = 0;
  if (!text) return false;
  return VexaFiles::Utf8ToUtf16(text, std::strlen(text), out, capacity) >= 0;
}

}  // namespace VexaUri
