// Decoding the cue text and reading its formatting tags.
#include "framework/subtitles/SubtitleMarkup.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/files/TextConvert.h"

namespace vmf {
namespace {

constexpr size_t kHexColourDigits = 6;

std::u32string DecodeText(std::string_view text) {
  std::u16string wide;
  std::u32string codes;
  if (VexaFiles::Utf8ToUtf16String(text, wide, VexaFiles::Utf8OutOfRange::Replace)) {
    codes.resize(wide.size() + 1);
    const ptrdiff_t n = VexaFiles::Utf16ToCodePoints(wide.data(), wide.size(), codes.data(), codes.size());
    codes.resize(n < 0 ? 0 : static_cast<size_t>(n));
  } else {
    for (const char c : text) codes.push_back(static_cast<unsigned char>(c));
  }
  return codes;
}

std::string Lower(std::u32string_view s) {
  std::string out;
  for (const char32_t c : s) out.push_back(c < 0x80 ? static_cast<char>(std::tolower(static_cast<int>(c))) : '\x7F');
  return out;
}

// The value of `name="..."` (quotes optional) in a tag's lower-cased text; empty when absent.
std::string AttributeValue(const std::string& tag, std::string_view name) {
  size_t at = 0;
  while ((at = tag.find(name, at)) != std::string::npos) {
    size_t i = at + name.size();
    const bool starts = at == 0 || std::isspace(static_cast<unsigned char>(tag[at - 1]));
    while (i < tag.size() && tag[i] == ' ') ++i;
    if (!starts || i >= tag.size() || tag[i] != '=') {
      at += name.size();
      continue;
    }
    ++i;
    while (i < tag.size() && tag[i] == ' ') ++i;
    const char quote = (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) ? tag[i++] : ' ';
    const size_t end = tag.find(quote, i);
    return tag.substr(i, end == std::string::npos ? std::string::npos : end - i);
  }
  return {};
}

// "#RRGGBB" as the canvas stores colours (red in the low byte); false for any other form.
bool ParseHexColour(const std::string& value, uint32_t* colour) {
  if (value.size() != kHexColourDigits + 1 || value[0] != '#') return false;
  const std::string digits = value.substr(1);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
    return false;
  }
  const uint32_t rgb = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
  *colour = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
  return true;
}

// The font tag: color and size change the style; face is not followed, since a render draws
// with the one font file its context names.
void ApplyFontTag(const std::string& tag, TextStyle* style) {
  ParseHexColour(AttributeValue(tag, "color"), &style->colour);
  const std::string size = AttributeValue(tag, "size");
  if (!size.empty() && size.size() < 6 && std::all_of(size.begin(), size.end(), ::isdigit)) {
    style->pixelSize = std::clamp<uint32_t>(static_cast<uint32_t>(std::stoul(size)), kSmallestPixelSize, kLargestPixelSize);
  }
}

// Applies one opening tag; false when the tag is not one the layout knows.
bool ApplyTag(const std::string& name, const std::string& tag, TextStyle* style) {
  if (name == "i") style->italic = true;
  else if (name == "b") style->bold = true;
  else if (name == "u") style->underline = true;
  else if (name == "s") style->strikeOut = true;
  else if (name == "font") ApplyFontTag(tag, style);
  else return false;
  return true;
}

}  // namespace

std::vector<StyledChar> ParseSubtitleMarkup(std::string_view text) {
  const std::u32string codes = DecodeText(text);
  std::vector<StyledChar> out;
  std::vector<TextStyle> before;  // the styles the open tags replaced
  TextStyle style;
  for (size_t i = 0; i < codes.size(); ++i) {
    const size_t close = codes[i] == U'<' ? codes.find(U'>', i) : std::u32string::npos;
    if (close == std::u32string::npos) {
      out.push_back(StyledChar{codes[i], style});
      continue;
    }
    const std::string tag = Lower(std::u32string_view(codes).substr(i + 1, close - i - 1));
    i = close;
    const bool closing = !tag.empty() && tag[0] == '/';
    const size_t nameStart = closing ? 1 : 0;
    const std::string name = tag.substr(nameStart, tag.find_first_of(" \t/", nameStart) - nameStart);
    if (closing) {
      if (!before.empty() && (name == "i" || name == "b" || name == "u" || name == "s" || name == "font")) {
        style = before.back();
        before.pop_back();
      }
      continue;
    }
    TextStyle next = style;
    if (ApplyTag(name, tag, &next)) {
      before.push_back(style);
      style = next;
    }
  }
  return out;
}

}  // namespace vmf
