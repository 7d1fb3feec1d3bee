#include "platform/settings/ValuesFile.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "platform/os/OsResult.h"
#include "platform/settings/KeyPaths.h"

namespace veds {
namespace {

constexpr char kHeaderVersion1[] = "vexa-settings-key 1";
constexpr char kHeaderVersion2[] = "vexa-settings-key 2";
constexpr char kTrailer[] = "end ";

const char* TypeName(uint32_t type) {
  switch (type) {
    case kRegSz: return "sz";
    case kRegExpandSz: return "expand_sz";
    case kRegBinary: return "binary";
    case kRegDword: return "dword";
    case kRegQword: return "qword";
    default: return nullptr;
  }
}

uint32_t TypeFromName(std::string_view name) {
  if (name == "sz") return kRegSz;
  if (name == "expand_sz") return kRegExpandSz;
  if (name == "binary") return kRegBinary;
  if (name == "dword") return kRegDword;
  if (name == "qword") return kRegQword;
  return kRegUnknown;
}

// Printable ASCII but "%" stays as it is; every other byte becomes %XX.
std::string Escape(std::string_view bytes) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7F && byte != '%') {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(hex[byte >> 4]);
      out.push_back(hex[byte & 15]);
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return VexaOS::kNotHexDigit;
}

bool Unescape(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexDigit(text[i + 1]);
    const int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

std::string EncodeData(const RegValue& value) {
  switch (value.type) {
    case kRegSz:
    case kRegExpandSz: {
      std::u16string units((value.data.size() - 2) / 2, u'\0');
      for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(value.data[2 * i] | (value.data[2 * i + 1] << 8));
      return Escape(ToWtf8(units));
    }
    case kRegDword: {
      uint32_t number = 0;
      for (int i = 3; i >= 0; --i) number = (number << 8) | value.data[i];
      return std::to_string(number);
    }
    case kRegQword: {
      uint64_t number = 0;
      for (int i = 7; i >= 0; --i) number = (number << 8) | value.data[i];
      return std::to_string(number);
    }
    default:
      return HexBytes(value.data);
  }
}

bool ParseUnsigned(std::string_view text, uint64_t limit, uint64_t& number) {
  if (text.empty() || text.size() > 20) return false;
  number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (number > (limit - digit) / 10) return false;
    number = number * 10 + digit;
  }
  return true;
}

bool DecodeData(uint32_t type, std::string_view text, RegValue& value) {
  value.type = type;
  value.data.clear();
  switch (type) {
    case kRegSz:
    case kRegExpandSz: {
      std::string bytes;
      std::u16string units;
      if (!Unescape(text, bytes) || !FromWtf8(bytes, units)) return false;
      for (char16_t unit : units) {
        value.data.push_back(static_cast<uint8_t>(unit & 0xFF));
        value.data.push_back(static_cast<uint8_t>(unit >> 8));
      }
      value.data.push_back(0);
      value.data.push_back(0);
      return true;
    }
    case kRegDword:
    case kRegQword: {
      uint64_t number;
      if (!ParseUnsigned(text, type == kRegDword ? UINT32_MAX : UINT64_MAX, number)) return false;
      for (int i = 0; i < (type == kRegDword ? 4 : 8); ++i) value.data.push_back(static_cast<uint8_t>(number >> (8 * i)));
      return true;
    }
    case kRegBinary: {
      if (text.size() % 2 != 0) return false;
      for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        value.data.push_back(static_cast<uint8_t>(high * 16 + low));
      }
      return true;
    }
    default:
      return false;
  }
}

// ---- integrity: a CRC-32 (the polynomial of zlib and PNG) over each line

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

uint32_t Crc32(std::string_view bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (char c : bytes) crc = kCrcTable[(crc ^ static_cast<unsigned char>(c)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

constexpr size_t kCheckDigits = 8;

std::string CheckField(std::string_view body) {
  char field[kCheckDigits + 1];
  std::snprintf(field, sizeof field, "%08x", Crc32(body));
  return field;
}

// ---- parsing and writing the values file

// Parses "TYPE NAME DATA". A known type whose name or data does not parse is damage; an unknown
// type (a later build's, say) is a foreign line, kept as it is.
bool ParseBody(std::string_view body, ValueLine& line) {
  line = ValueLine{};
  line.body = std::string(body);
  const size_t firstSpace = body.find(' ');
  const size_t secondSpace = firstSpace == std::string_view::npos ? firstSpace : body.find(' ', firstSpace + 1);
  std::string nameBytes;
  const bool named = secondSpace != std::string_view::npos &&
                     Unescape(body.substr(firstSpace + 1, secondSpace - firstSpace - 1), nameBytes) &&
                     FromWtf8(nameBytes, line.name) && !line.name.empty();
  if (!named) line.name.clear();
  const uint32_t type = TypeFromName(body.substr(0, firstSpace));
  if (type == kRegUnknown) return true;  // foreign
  line.kind = ValueLine::kValue;
  return named && DecodeData(type, body.substr(secondSpace + 1), line.value);
}

}  // namespace

bool IsWellShaped(const RegValue& value) {
  switch (value.type) {
    case kRegSz:
    case kRegExpandSz:
      return value.data.size() >= 2 && value.data.size() % 2 == 0 &&
             value.data[value.data.size() - 1] == 0 && value.data[value.data.size() - 2] == 0;
    case kRegDword: return value.data.size() == 4;
    case kRegQword: return value.data.size() == 8;
    case kRegBinary: return true;
    default: return false;
  }
}

// The header names the format: version 1 lines are "TYPE NAME DATA"; version 2 lines carry a
// check field in front ("CHECK TYPE NAME DATA") and the file ends with "end COUNT".
void ParseValues(std::string_view text, ValuesFile& file) {
  file = ValuesFile{};
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {  // a last line without its line break was cut short
      file.damaged = true;
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.empty() || (lines[0] != kHeaderVersion1 && lines[0] != kHeaderVersion2)) {
    file.damaged = true;
    return;
  }
  const bool checked = lines[0] == kHeaderVersion2;
  size_t last = lines.size();
  if (checked) {
    // The count at the end shows that no whole line went missing.
    if (last < 2 || lines[last - 1].substr(0, sizeof kTrailer - 1) != kTrailer) {
      file.damaged = true;
    } else {
      --last;
    }
  }
  for (size_t i = 1; i < last; ++i) {
    std::string_view line = lines[i];
    if (line.empty()) continue;
    if (checked) {
      if (line.size() <= kCheckDigits || line[kCheckDigits] != ' ' ||
          line.substr(0, kCheckDigits) != CheckField(line.substr(kCheckDigits + 1))) {
        file.damaged = true;
        continue;
      }
      line.remove_prefix(kCheckDigits + 1);
    }
    ValueLine parsed;
    if (!ParseBody(line, parsed)) {
      file.damaged = true;
      continue;
    }
    file.lines.push_back(std::move(parsed));
  }
  if (checked && !file.damaged &&
      lines[last] != std::string(kTrailer) + std::to_string(file.lines.size()))
    file.damaged = true;
}

std::string FormatValues(const ValuesFile& file) {
  std::string text = kHeaderVersion2;
  text += '\n';
  for (const auto& line : file.lines) {
    std::string body = line.body;
    if (line.kind == ValueLine::kValue)
      body = std::string(TypeName(line.value.type)) + ' ' + Escape(ToWtf8(line.name)) + ' ' + EncodeData(line.value);
    text += CheckField(body);
    text += ' ';
    text += body;
    text += '\n';
  }
  text += kTrailer;
  text += std::to_string(file.lines.size());
  text += '\n';
  return text;
}

std::vector<ValueLine>::iterator FindLine(ValuesFile& file, std::u16string_view name) {
  const std::u16string wanted = Fold(name);
  return std::find_if(file.lines.begin(), file.lines.end(),
                      [&](const ValueLine& line) { return !line.name.empty() && Fold(line.name) == wanted; });
}

}  // namespace veds
