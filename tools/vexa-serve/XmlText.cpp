#include "tools/vexa-serve/XmlText.h"

#include <cstdint>

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// The length of the well-formed UTF-8 sequence at text[at], or 0 when there is none.
size_t Utf8SequenceLength(std::string_view text, size_t at) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  uint8_t lead = byte(at);
  size_t length = 0;
  uint32_t lowest = 0;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) length = 2, lowest = 0x80;
  else if ((lead & 0xF0) == 0xE0) length = 3, lowest = 0x800;
  else if ((lead & 0xF8) == 0xF0) length = 4, lowest = 0x10000;
  else return 0;
  if (at + length > text.size()) return 0;
  uint32_t code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (code < lowest || code > 0x10FFFF || surrogate || code == 0xFFFE || code == 0xFFFF)
    return 0;
  return length;
}

bool IsAllowedControl(char c) { return c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::string XmlEscape(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    char c = text[at];
    size_t length = Utf8SequenceLength(text, at);
    if (length == 0) {
      escaped += kReplacement;
      ++at;
      continue;
    }
    if (length > 1) {
      escaped.append(text.substr(at, length));
      at += length;
      continue;
    }
    switch (c) {
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '&': escaped += "&amp;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&apos;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && !IsAllowedControl(c))
          escaped += kReplacement;
        else
          escaped += c;
    }
    ++at;
  }
  return escaped;
}
