// The lines of a SubRip file as UTF-8: the file's encoding told from its first bytes, UTF-16
// turned into UTF-8, CR LF shortened to LF, and lines longer than a cue's text buffer handed
// out in pieces.
//
// How the encoding is told:
// - A byte-order mark names it: FF FE UTF-16 LE, FE FF UTF-16 BE, EF BB BF UTF-8. The mark is
//   not skipped; it is read as part of the first line (a cue number, never interpreted).
// - Without a mark, the first kUtf16SniffBytes bytes (or the whole file when shorter) are taken
//   as 16-bit units: when every unit's second byte is zero and some first byte is not, the file
//   is UTF-16 LE ("1" CR LF is 31 00 0D 00 0A 00); the reverse makes it UTF-16 BE. Such a file
//   is read from its first byte as a marked one would be. Anything else, plain 8-bit text
//   included (it holds no NUL bytes), is taken as bytes as they are.
//
// How damaged input is read:
// - UTF-16 is read in whole code units (a line ends at the unit U+000A, not at any 0x0A byte).
//   A file with an odd byte count ends at its last whole unit; the lines before it are all
//   handed out and Damaged() tells the reader afterwards.
// - A surrogate without its partner becomes U+FFFD and the line goes on.
// - A piece never ends inside a UTF-8 sequence: a character that would straddle the limit
//   starts the next piece (UTF-16 input is always cut so; UTF-8 input is cut so when its last
//   bytes form the start of a sequence).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "framework/srt/SrtBytes.h"

namespace srt {

// How the bytes of a file are taken, told from its first bytes.
enum SrtEncoding : int32_t {
  kSrtUtf16Le = 0,   // FF FE, or no mark and zero second bytes
  kSrtUtf16Be = 1,   // FE FF, or no mark and zero first bytes
  kSrtUtf8Bom = 2,   // EF BB BF
  kSrtPlain = 3,     // no mark and not UTF-16: the bytes as they are
};

// How many leading bytes of a file without a mark decide whether it is UTF-16.
inline constexpr size_t kUtf16SniffBytes = 64;

// The longest piece of a line, in UTF-8 bytes: a cue's text buffer less its terminator.
inline constexpr size_t kSrtLineBytes = 999;

enum class LineResult { kLine, kEnd, kFailed };

class SrtLineSource {
 public:
  // Takes the open file and tells its encoding from its first bytes without consuming them: a
  // mark is read as part of the first line.
  explicit SrtLineSource(std::unique_ptr<SrtBytes> bytes);

  SrtEncoding Encoding() const { return m_encoding; }
  // The next line or piece of a line, with its LF when it has one. kEnd at the end of the
  // file, kFailed when the file cannot be read.
  LineResult ReadLine(std::string* line);
  // True once a UTF-16 file turned out to end inside a code unit.
  bool Damaged() const { return m_damaged; }

 private:
  // Makes up to `want` bytes available from the current position; answers how many are.
  size_t Available(size_t want);
  uint8_t At(size_t i) const { return m_buffer[m_begin + i]; }
  void Drop(size_t n) { m_begin += n; }
  uint16_t UnitAt(size_t i) const;
  LineResult ReadBytesLine(std::string* line);
  LineResult ReadUtf16Line(std::string* line);
  // The next code point of UTF-16 input and the bytes it takes; 0 bytes at the end.
  size_t PeekCodePoint(char32_t* codePoint);

  static constexpr size_t kBufferBytes = 8192;
  std::unique_ptr<SrtBytes> m_bytes;
  uint8_t m_buffer[kBufferBytes];
  size_t m_begin = 0;
  size_t m_end = 0;
  bool m_atEnd = false;
  bool m_failed = false;
  bool m_damaged = false;
  SrtEncoding m_encoding = kSrtPlain;
};

// A line is blank when it holds nothing but white space, control characters and byte-order
// marks. Bytes that are not UTF-8 count as text.
bool IsBlankLine(std::string_view line);

}  // namespace srt
