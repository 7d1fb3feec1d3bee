// CSRTReader: a SubRip file loaded into memory as a list of timed cues, handed out one by one
// from a cursor that can be placed by time.
//
// A cue is a number line (not interpreted), a timing line "H:M:S,ms --> H:M:S,ms" and up to
// nine text lines ended by a blank line or the end of the file. A timing line that does not
// match drops its cue; reading picks up at the next non-blank line. Times are 100-ns units.
//
// Choices made where the format leaves room:
// - A file without a byte-order mark whose first bytes are UTF-16 text (one byte of every unit
//   zero, the rule in SrtLines.h) is read as UTF-16 LE or BE from its first byte, so its cues
//   are not lost to lines full of NUL bytes; Encoding() then answers kSrtUtf16Le or
//   kSrtUtf16Be. Plain 8-bit text stays kSrtPlain.
// - A cue's joined text longer than 999 bytes is cut at a UTF-8 character boundary, so the
//   text stays whole characters and keeps its terminator.
// - A timing line whose numbers overflow 32 bits, or whose time overflows 64 bits, does not
//   match.
// - Seeking a file without cues answers kSrtEnd and leaves the time and cursor as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "framework/srt/SrtLines.h"

namespace srt {

// Results at the reader's border.
enum SrtResult : int32_t {
  kSrtOk = 0,
  kSrtFailed = -1,       // a read error, or a file that ends right after a cue number
  kSrtCannotOpen = -3,   // the file cannot be opened for reading
  kSrtEnd = -9,          // no further cue; a seek past the last cue
  kSrtNoMemory = -10,    // a cue record cannot be allocated
};

inline constexpr size_t kCueTextBytes = 1000;  // text and terminator
inline constexpr size_t kCueTextLines = 9;     // text lines kept per cue

struct SrtCue {
  char text[kCueTextBytes];  // lines joined by LF, no final LF, NUL-terminated
  int64_t start;             // 100-ns units
  int64_t end;               // never before start
};
static_assert(sizeof(SrtCue) == 1016);
static_assert(offsetof(SrtCue, start) == 1000);
static_assert(offsetof(SrtCue, end) == 1008);

// Reads "%d:%d:%d,%d --> %d:%d:%d,%d" (white space allowed before each number and around the
// arrow, anything after the last number ignored) into start and end times.
bool ParseTimingLine(std::string_view line, int64_t* start, int64_t* end);

class CSRTReader {
 public:
  CSRTReader() = default;
  virtual ~CSRTReader() = default;
  CSRTReader(const CSRTReader&) = delete;
  CSRTReader& operator=(const CSRTReader&) = delete;

  // Reads every cue of the file. kSrtOk, kSrtCannotOpen, kSrtFailed (read error, a file ending
  // right after a cue number, or a UTF-16 file ending inside a code unit) or kSrtNoMemory; the
  // cues read before a failure stay in the list. The cursor is at the first cue afterwards.
  int32_t Load(const char16_t* name);
  // Copies the cue at the cursor and advances it; kSrtEnd (times 0, empty text) after the last.
  int32_t NextCue(int64_t* start, int64_t* end, char text[kCueTextBytes]);
  // Moves the cursor back over the cue NextCue handed out last, so it is handed out again.
  void PutBack();
  // Places the cursor at the cue playing at *time, or at the next one when *time falls between
  // two, and answers its start in *time. Before the first cue: the first. After the last cue's
  // end: kSrtEnd, the cursor on the last cue and *time all ones.
  int32_t Seek(int64_t* time);

  SrtEncoding Encoding() const { return m_encoding; }
  size_t CueCount() const { return m_cues.size(); }

 private:
  enum class CueOutcome { kCue, kEnd, kError };
  CueOutcome ParseCue(SrtLineSource& lines, SrtCue* cue);

  std::vector<std::unique_ptr<SrtCue>> m_cues;
  uint32_t m_cursor = 0;
  SrtEncoding m_encoding = kSrtPlain;
};

}  // namespace srt
