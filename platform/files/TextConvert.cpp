#include "platform/files/TextConvert.h"

namespace VexaFiles {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }
bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Decodes one sequence starting at in[0]; answers the code point and its length, or false for
// an ill-formed sequence. Surrogates and values above U+10FFFF decode as they are (the caller
// applies the policy).
bool DecodeUtf8(const unsigned char* in, size_t available, char32_t& codePoint, size_t& length) {
  const unsigned char lead = in[0];
  if (lead < 0x80) {
    codePoint = lead;
    length = 1;
    return true;
  }
  char32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF7) {
    length = 4;
    codePoint = lead & 0x07;
    minimum = 0x10000;
  } else {
    return false;  // a continuation byte, C0/C1 (always overlong) or F8..FF
  }
  if (available < length) return false;
  for (size_t i = 1; i < length; ++i) {
    if (!IsContinuation(in[i])) return false;
    codePoint = (codePoint << 6) | (in[i] & 0x3F);
  }
  return codePoint >= minimum;
}

}  // namespace

ptrdiff_t Utf8ToUtf16(const char* in, size_t inBytes, char16_t* out, size_t outCapacity,
                      Utf8OutOfRange outOfRange) {
  if (outCapacity > 0) out[0] = 0;
  if (outCapacity == 0) return kConvertNoRoom;
  if (!in && inBytes > 0) return kConvertIllFormed;
  const auto* bytes = reinterpret_cast<const unsigned char*>(in);
  size_t written = 0;
  size_t at = 0;
  while (at < inBytes) {
    char32_t codePoint;
    size_t length;
    if (!DecodeUtf8(bytes + at, inBytes - at, codePoint, length)) {
      out[0] = 0;
      return kConvertIllFormed;
    }
    at += length;
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
      if (outOfRange == Utf8OutOfRange::Reject) {
        out[0] = 0;
        return kConvertIllFormed;
      }
      codePoint = kReplacement;
    }
    const size_t units = codePoint >= 0x10000 ? 2 : 1;
    if (outCapacity - written < units + 1) {
      out[0] = 0;
      return kConvertNoRoom;
    }
    if (units == 2) {
      const char32_t value = codePoint - 0x10000;
      out[written++] = static_cast<char16_t>(0xD800 + (value >> 10));
      out[written++] = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
    } else {
      out[written++] = static_cast<char16_t>(codePoint);
    }
  }
  out[written] = 0;
  return static_cast<ptrdiff_t>(written);
}

ptrdiff_t Utf16ToCodePoints(const char16_t* in, size_t inUnits, char32_t* out, size_t outCapacity,
                            size_t* consumed) {
  if (consumed) *consumed = 0;
  if (outCapacity == 0) return kConvertNoRoom;
  out[0] = 0;
  if (!in) return 0;
  if (inUnits > kMaxUtf16Units) inUnits = kMaxUtf16Units;
  size_t written = 0;
  size_t at = 0;
  while (at < inUnits && in[at] != 0) {
    char32_t unit = in[at];
    size_t length = 1;
    if (IsLowSurrogate(unit)) break;
    if (IsHighSurrogate(unit)) {
      if (at + 1 >= inUnits || !IsLowSurrogate(in[at + 1])) break;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (in[at + 1] - 0xDC00);
      length = 2;
    }
    if (outCapacity - written < 2) {
      out[0] = 0;
      return kConvertNoRoom;
    }
    out[written++] = unit;
    at += length;
  }
  out[written] = 0;
  if (consumed) *consumed = at;
  return static_cast<ptrdiff_t>(written);
}

int CodePointToUtf8(char32_t codePoint, char out[4]) {
  if (codePoint < 0x80) {
    out[0] = static_cast<char>(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
    out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 2;
  }
  if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;
  if (codePoint < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 3;
  }
  if (codePoint > 0x10FFFF) return 0;
  out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
  out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
  return 4;
}

ptrdiff_t WideToNarrow(const char16_t* in, size_t inUnits, char* out, size_t outCapacity) {
  if (outCapacity == 0) return kConvertNoRoom;
  size_t written = 0;
  if (in) {
    while (written < inUnits && written + 1 < outCapacity && in[written] != 0) {
      out[written] = static_cast<char>(in[written] & 0xFF);
      ++written;
    }
  }
  out[written] = 0;
  return static_cast<ptrdiff_t>(written);
}

bool Utf8ToUtf16String(std::string_view in, std::u16string& out, Utf8OutOfRange outOfRange) {
  out.clear();
  std::u16string result;
  result.reserve(in.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
  size_t at = 0;
  while (at < in.size()) {
    char32_t codePoint;
    size_t length;
    if (!DecodeUtf8(bytes + at, in.size() - at, codePoint, length)) return false;
    at += length;
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
      if (outOfRange == Utf8OutOfRange::Reject) return false;
      codePoint = kReplacement;
    }
    if (codePoint >= 0x10000) {
      const char32_t value = codePoint - 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(codePoint));
    }
  }
  out = std::move(result);
  return true;
}

bool Utf16ToUtf8String(std::u16string_view in, std::string& out) {
  out.clear();
  std::string result;
  result.reserve(in.size());
  for (size_t at = 0; at < in.size(); ++at) {
    char32_t unit = in[at];
    if (IsLowSurrogate(unit)) return false;
    if (IsHighSurrogate(unit)) {
      if (at + 1 >= in.size() || !IsLowSurrogate(in[at + 1])) return false;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (in[at + 1] - 0xDC00);
      ++at;
    }
    char bytes[4];
    int length = CodePointToUtf8(unit, bytes);
    result.append(bytes, static_cast<size_t>(length));
  }
  out = std::move(result);
  return true;
}

size_t WideLength(const char16_t* text) {
  if (!text) return 0;
  size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

}  // namespace VexaFiles
