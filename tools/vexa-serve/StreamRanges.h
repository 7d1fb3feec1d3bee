// The request headers that choose a part of a stream, and the answers that describe it: HTTP
// byte ranges of an original file, DLNA time-seek ranges (normal play time) of an offer, and
// the fields of an offer's protocolInfo.
#pragma once

#include <cstdint>
#include <string>

enum class RangeKind {
  kWhole,          // no Range header, one the server does not take (several ranges), or malformed
  kPart,           // first..last, both within the file
  kUnsatisfiable,  // a range that starts past the end: 416
};

struct ByteRange {
  RangeKind kind = RangeKind::kWhole;
  int64_t first = 0;
  int64_t last = -1;  // inclusive
  int64_t Length() const { return last - first + 1; }
};

// Reads "bytes=A-B", "bytes=A-" or "bytes=-N" against a file of size bytes.
ByteRange ParseByteRange(const std::string& header, int64_t size);

// "bytes A-B/SIZE", or "bytes */SIZE" for an unsatisfiable range.
std::string ContentRange(const ByteRange& range, int64_t size);

enum class TimeSeekKind { kNone, kRange, kMalformed };

struct TimeSeek {
  TimeSeekKind kind = TimeSeekKind::kNone;
  int64_t startMs = 0;
  int64_t endMs = -1;  // -1: to the end
};

// Reads "npt=START-" or "npt=START-END", each time either seconds ("30", "30.5") or
// "H:MM:SS[.fff]". An empty header is kNone.
TimeSeek ParseTimeSeek(const std::string& header);

// A time as DLNA writes it in normal play time: "H:MM:SS.mmm".
std::string FormatNpt(int64_t ms);

// The TimeSeekRange.dlna.org answer "npt=START-END/DURATION"; an unknown duration (-1) is "*".
std::string TimeSeekAnswer(const TimeSeek& seek, int64_t durationMs);

// An offer's duration ("H:MM:SS.f..."), in milliseconds; -1 when empty or unreadable.
int64_t ParseOfferDuration(const std::string& duration);

// Field number `which` (0-based) of "protocol:network:contentFormat:additionalInfo"; the last
// field keeps any further ':'. Empty when it is missing.
std::string ProtocolInfoField(const std::string& protocolInfo, int which);
