#include "framework/srt/SrtReader.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <string>

namespace srt {
namespace {

constexpr int64_t kUnitsPerMillisecond = 10000;

// Reads scanf's "%d" and the literals between: white space before a number or where the
// pattern has a space, the other characters exactly.
class TimingScanner {
 public:
  explicit TimingScanner(std::string_view text) : m_text(text) {}

  bool Number(int32_t* value) {
    SkipSpace();
    bool negative = false;
    if (m_at < m_text.size() && (m_text[m_at] == '+' || m_text[m_at] == '-')) negative = m_text[m_at++] == '-';
    int64_t magnitude = 0;
    const size_t first = m_at;
    for (; m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9'; ++m_at) {
      magnitude = magnitude * 10 + (m_text[m_at] - '0');
      if (magnitude > static_cast<int64_t>(INT32_MAX) + 1) return false;
    }
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (m_at == first || signedValue > INT32_MAX) return false;
    *value = static_cast<int32_t>(signedValue);
    return true;
  }

  bool Literal(std::string_view literal) {
    if (m_text.substr(m_at, literal.size()) != literal) return false;
    m_at += literal.size();
    return true;
  }

  void SkipSpace() {
    while (m_at < m_text.size() && (m_text[m_at] == ' ' || (m_text[m_at] >= '\t' && m_text[m_at] <= '\r'))) ++m_at;
  }

 private:
  std::string_view m_text;
  size_t m_at = 0;
};

bool ScanClock(TimingScanner& scan, int32_t fields[4]) {
  return scan.Number(&fields[0]) && scan.Literal(":") && scan.Number(&fields[1]) && scan.Literal(":") &&
         scan.Number(&fields[2]) && scan.Literal(",") && scan.Number(&fields[3]);
}

// (((h x 60 + m) x 60 + s) x 1000 + ms) x 10000; false when it leaves 64 bits.
bool ClockToUnits(const int32_t fields[4], int64_t* units) {
  int64_t t = fields[0];
  return !__builtin_mul_overflow(t, 60, &t) && !__builtin_add_overflow(t, fields[1], &t) &&
         !__builtin_mul_overflow(t, 60, &t) && !__builtin_add_overflow(t, fields[2], &t) &&
         !__builtin_mul_overflow(t, 1000, &t) && !__builtin_add_overflow(t, fields[3], &t) &&
         !__builtin_mul_overflow(t, kUnitsPerMillisecond, units);
}

// The longest prefix of `line` of at most `room` bytes that ends on a character boundary.
size_t WholeCharacters(std::string_view line, size_t room) {
  if (line.size() <= room) return line.size();
  size_t n = room;
  while (n > 0 && (static_cast<uint8_t>(line[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

bool ParseTimingLine(std::string_view line, int64_t* start, int64_t* end) {
  TimingScanner scan(line);
  int32_t from[4], to[4];
  if (!ScanClock(scan, from)) return false;
  scan.SkipSpace();
  if (!scan.Literal("-->")) return false;
  return ScanClock(scan, to) && ClockToUnits(from, start) && ClockToUnits(to, end);
}

CSRTReader::CueOutcome CSRTReader::ParseCue(SrtLineSource& lines, SrtCue* cue) {
  std::string line;
  for (;;) {
    LineResult read;
    do {  // the cue number: the first non-blank line
      read = lines.ReadLine(&line);
      if (read == LineResult::kEnd) return CueOutcome::kEnd;
      if (read == LineResult::kFailed) return CueOutcome::kError;
    } while (IsBlankLine(line));
    if (lines.ReadLine(&line) != LineResult::kLine) return CueOutcome::kError;
    if (!ParseTimingLine(line, &cue->start, &cue->end)) continue;
    cue->end = std::max(cue->end, cue->start);

    std::string text;
    size_t kept = 0;
    bool full = false;
    for (;;) {
      read = lines.ReadLine(&line);
      if (read == LineResult::kFailed) return CueOutcome::kError;
      if (read == LineResult::kEnd || IsBlankLine(line)) break;
      if (kept == kCueTextLines || full) continue;  // read and dropped
      ++kept;
      const size_t take = WholeCharacters(line, kCueTextBytes - 1 - text.size());
      full = take < line.size();
      text.append(line, 0, take);
    }
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (text.empty()) continue;
    std::memcpy(cue->text, text.c_str(), text.size() + 1);
    return CueOutcome::kCue;
  }
}

int32_t CSRTReader::Load(const char16_t* name) {
  m_cues.clear();
  m_cursor = 0;
  std::unique_ptr<SrtBytes> bytes = OpenSrtBytes(name);
  if (!bytes) return kSrtCannotOpen;
  SrtLineSource lines{std::move(bytes)};
  m_encoding = lines.Encoding();
  int32_t result = kSrtOk;
  for (;;) {
    std::unique_ptr<SrtCue> cue(new (std::nothrow) SrtCue{});
    if (!cue) {
      result = kSrtNoMemory;
      break;
    }
    const CueOutcome outcome = ParseCue(lines, cue.get());
    if (outcome != CueOutcome::kCue) {
      if (outcome == CueOutcome::kError || lines.Damaged()) result = kSrtFailed;
      break;
    }
    try {
      m_cues.push_back(std::move(cue));
    } catch (const std::bad_alloc&) {
      result = kSrtNoMemory;
      break;
    }
  }
  m_cursor = 0;
  return result;
}

int32_t CSRTReader::NextCue(int64_t* start, int64_t* end, char text[kCueTextBytes]) {
  if (m_cursor >= m_cues.size()) {
    *start = 0;
    *end = 0;
    text[0] = '\0';
    return kSrtEnd;
  }
  const SrtCue& cue = *m_cues[m_cursor++];
  *start = cue.start;
  *end = cue.end;
  std::memcpy(text, cue.text, kCueTextBytes);
  return kSrtOk;
}

void CSRTReader::PutBack() {
  if (m_cursor > 0) --m_cursor;
}

int32_t CSRTReader::Seek(int64_t* time) {
  if (m_cues.empty()) return kSrtEnd;
  const int64_t t = *time;
  auto place = [&](size_t index) {
    m_cursor = static_cast<uint32_t>(index);
    *time = m_cues[index]->start;
    return kSrtOk;
  };
  if (t < m_cues.front()->start) return place(0);
  if (t > m_cues.back()->end) {
    m_cursor = static_cast<uint32_t>(m_cues.size() - 1);
    *time = -1;
    return kSrtEnd;
  }
  for (size_t i = 0; i < m_cues.size(); ++i)
    if (m_cues[i]->start <= t && t <= m_cues[i]->end) return place(i);
  // In a gap: the cue that starts next. One exists, as t is not after the last cue's end.
  for (size_t i = 0; i < m_cues.size(); ++i)
    if (m_cues[i]->start > t) return place(i);
  return place(m_cues.size() - 1);
}

}  // namespace srt
