#include "framework/srt/SrtLines.h"

#include <algorithm>
#include <cstring>

#include "platform/files/TextConvert.h"

namespace srt {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(uint16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// How many bytes at the end of a full piece begin a UTF-8 sequence that the piece cannot
// finish; they are left for the next piece.
size_t IncompleteTail(const uint8_t* bytes, size_t size) {
  for (size_t back = 1; back <= std::min<size_t>(3, size); ++back) {
    const uint8_t b = bytes[size - back];
    if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    if (b < 0xC0) return 0;
    const size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    return length > back ? back : 0;
  }
  return 0;
}

void ShortenCrLf(std::string* line) {
  const size_t n = line->size();
  if (n >= 2 && (*line)[n - 2] == '\r' && (*line)[n - 1] == '\n') line->erase(n - 2, 1);
}

bool IsBlankUnit(char16_t unit) {
  return unit <= 0x20 || (unit >= 0x7F && unit <= 0xA0) || unit == 0x1680 ||
         (unit >= 0x2000 && unit <= 0x200B) || unit == 0x2028 || unit == 0x2029 ||
         unit == 0x202F || unit == 0x205F || unit == 0x3000 || unit == 0xFEFF;
}

// Text in UTF-16 without a mark: across the first whole code units, one byte of every unit is
// zero (the first bytes of a cue are digits, a timing line and line ends, all below U+0100) and
// the other byte is not always zero. Plain 8-bit text holds no NUL bytes, so it never passes.
SrtEncoding UnmarkedUtf16(const uint8_t* bytes, size_t size) {
  const size_t units = std::min(size, kUtf16SniffBytes) / 2;
  bool lowZero = units > 0, highZero = units > 0, lowSet = false, highSet = false;
  for (size_t i = 0; i < units; ++i) {
    const uint8_t first = bytes[2 * i], second = bytes[2 * i + 1];
    lowZero = lowZero && first == 0;
    highZero = highZero && second == 0;
    lowSet = lowSet || first != 0;
    highSet = highSet || second != 0;
  }
  if (highZero && lowSet) return kSrtUtf16Le;
  if (lowZero && highSet) return kSrtUtf16Be;
  return kSrtPlain;
}

}  // namespace

SrtLineSource::SrtLineSource(std::unique_ptr<SrtBytes> bytes) : m_bytes(std::move(bytes)) {
  const size_t n = Available(kUtf16SniffBytes);
  const uint8_t* b = m_buffer + m_begin;
  if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
    m_encoding = kSrtUtf16Le;
  } else if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
    m_encoding = kSrtUtf16Be;
  } else if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
    m_encoding = kSrtUtf8Bom;
  } else {
    m_encoding = UnmarkedUtf16(b, n);
  }
}

size_t SrtLineSource::Available(size_t want) {
  if (m_end - m_begin >= want) return want;
  std::memmove(m_buffer, m_buffer + m_begin, m_end - m_begin);
  m_end -= m_begin;
  m_begin = 0;
  while (m_end < want && !m_atEnd && !m_failed) {
    uint32_t got = 0;
    if (!m_bytes->Read(m_buffer + m_end, static_cast<uint32_t>(kBufferBytes - m_end), &got)) m_failed = true;
    if (got == 0) m_atEnd = true;
    m_end += got;
  }
  return std::min(want, m_end);
}

LineResult SrtLineSource::ReadLine(std::string* line) {
  line->clear();
  const LineResult result =
      m_encoding == kSrtUtf16Le || m_encoding == kSrtUtf16Be ? ReadUtf16Line(line) : ReadBytesLine(line);
  if (result == LineResult::kLine) ShortenCrLf(line);
  return result;
}

LineResult SrtLineSource::ReadBytesLine(std::string* line) {
  // The whole piece is in the buffer at once (it is larger than a piece).
  const size_t n = Available(kSrtLineBytes);
  if (n == 0) return m_failed ? LineResult::kFailed : LineResult::kEnd;
  const uint8_t* bytes = m_buffer + m_begin;
  size_t take = n;
  if (const void* lf = std::memchr(bytes, '\n', n)) {
    take = static_cast<size_t>(static_cast<const uint8_t*>(lf) - bytes) + 1;
  } else if (n == kSrtLineBytes) {
    take = n - IncompleteTail(bytes, n);
  }
  line->assign(reinterpret_cast<const char*>(bytes), take);
  Drop(take);
  return LineResult::kLine;
}

uint16_t SrtLineSource::UnitAt(size_t i) const {
  const uint16_t first = At(i), second = At(i + 1);
  return m_encoding == kSrtUtf16Le ? static_cast<uint16_t>(first | second << 8)
                                   : static_cast<uint16_t>(first << 8 | second);
}

size_t SrtLineSource::PeekCodePoint(char32_t* codePoint) {
  const size_t n = Available(4);
  if (n < 2) {
    if (n == 1 && !m_failed) {  // the file ends inside a code unit
      m_damaged = true;
      Drop(1);
    }
    return 0;
  }
  const uint16_t unit = UnitAt(0);
  *codePoint = unit;
  if (IsHighSurrogate(unit)) {
    const uint16_t next = n >= 4 ? UnitAt(2) : 0;
    if (!IsLowSurrogate(next)) {
      *codePoint = kReplacement;
      return 2;
    }
    *codePoint = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (next - 0xDC00);
    return 4;
  }
  if (IsLowSurrogate(unit)) *codePoint = kReplacement;
  return 2;
}

LineResult SrtLineSource::ReadUtf16Line(std::string* line) {
  for (;;) {
    char32_t codePoint = 0;
    const size_t bytes = PeekCodePoint(&codePoint);
    if (bytes == 0) break;
    char utf8[4];
    const size_t length = static_cast<size_t>(VexaFiles::CodePointToUtf8(codePoint, utf8));
    if (line->size() + length > kSrtLineBytes) break;  // the character starts the next piece
    line->append(utf8, length);
    Drop(bytes);
    if (codePoint == U'\n') break;
  }
  if (!line->empty()) return LineResult::kLine;
  return m_failed ? LineResult::kFailed : LineResult::kEnd;
}

bool IsBlankLine(std::string_view line) {
  std::u16string wide;
  if (!VexaFiles::Utf8ToUtf16String(line, wide, VexaFiles::Utf8OutOfRange::Replace)) return false;
  return std::all_of(wide.begin(), wide.end(), IsBlankUnit);
}

}  // namespace srt
