#include "tools/vexa-serve/StreamRanges.h"

#include <cctype>
#include <cstdio>
#include <limits>

namespace {

constexpr char kBytesUnit[] = "bytes=";
constexpr char kNptPrefix[] = "npt=";
constexpr int kProtocolInfoFields = 4;
constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kMsPerMinute = 60 * kMsPerSecond;
constexpr int64_t kMsPerHour = 60 * kMsPerMinute;

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

// A run of decimal digits, the whole text; false when empty, not digits or too large.
bool ParseDigits(const std::string& text, int64_t* value) {
  if (text.empty() || text.size() > 18) return false;
  int64_t result = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    result = result * 10 + (c - '0');
  }
  *value = result;
  return true;
}

// "SS" or "SS.f" (1 to 3 digits of fraction) as milliseconds.
bool ParseSecondsWithFraction(const std::string& text, int64_t* ms) {
  size_t dot = text.find('.');
  int64_t seconds = 0;
  if (!ParseDigits(text.substr(0, dot), &seconds)) return false;
  int64_t fraction = 0;
  if (dot != std::string::npos) {
    std::string digits = text.substr(dot + 1);
    if (digits.size() > 3 || !ParseDigits(digits, &fraction)) return false;
    for (size_t i = digits.size(); i < 3; ++i) fraction *= 10;
  }
  *ms = seconds * kMsPerSecond + fraction;
  return true;
}

// One normal-play-time value: seconds, or hours:minutes:seconds.
bool ParseNptTime(const std::string& text, int64_t* ms) {
  size_t first = text.find(':');
  if (first == std::string::npos) return ParseSecondsWithFraction(text, ms);
  size_t second = text.find(':', first + 1);
  if (second == std::string::npos) return false;
  int64_t hours = 0, minutes = 0, seconds = 0;
  if (!ParseDigits(text.substr(0, first), &hours) ||
      !ParseDigits(text.substr(first + 1, second - first - 1), &minutes) || minutes > 59 ||
      !ParseSecondsWithFraction(text.substr(second + 1), &seconds) || seconds >= kMsPerMinute)
    return false;
  *ms = hours * kMsPerHour + minutes * kMsPerMinute + seconds;
  return true;
}

}  // namespace

ByteRange ParseByteRange(const std::string& header, int64_t size) {
  ByteRange whole;
  whole.last = size - 1;
  std::string value = Trim(header);
  if (value.compare(0, sizeof kBytesUnit - 1, kBytesUnit) != 0) return whole;
  value = Trim(value.substr(sizeof kBytesUnit - 1));
  size_t dash = value.find('-');
  if (dash == std::string::npos || value.find(',') != std::string::npos) return whole;
  std::string firstText = Trim(value.substr(0, dash)), lastText = Trim(value.substr(dash + 1));
  ByteRange range;
  range.kind = RangeKind::kPart;
  int64_t first = 0, last = 0;
  if (firstText.empty()) {  // the last N bytes
    if (!ParseDigits(lastText, &last)) return whole;
    if (last == 0 || size == 0) return {RangeKind::kUnsatisfiable, 0, -1};
    range.first = last >= size ? 0 : size - last;
    range.last = size - 1;
    return range;
  }
  if (!ParseDigits(firstText, &first)) return whole;
  if (lastText.empty()) {
    last = std::numeric_limits<int64_t>::max();
  } else if (!ParseDigits(lastText, &last) || last < first) {
    return whole;  // a malformed range is ignored, as if none was asked
  }
  if (first >= size) return {RangeKind::kUnsatisfiable, 0, -1};
  range.first = first;
  range.last = last >= size ? size - 1 : last;
  return range;
}

std::string ContentRange(const ByteRange& range, int64_t size) {
  if (range.kind == RangeKind::kUnsatisfiable) return "bytes */" + std::to_string(size);
  return "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" +
         std::to_string(size);
}

TimeSeek ParseTimeSeek(const std::string& header) {
  std::string value = Trim(header);
  if (value.empty()) return {};
  TimeSeek malformed{TimeSeekKind::kMalformed};
  if (value.compare(0, sizeof kNptPrefix - 1, kNptPrefix) != 0) return malformed;
  value = value.substr(sizeof kNptPrefix - 1);
  size_t dash = value.find('-');
  if (dash == std::string::npos) return malformed;
  TimeSeek seek{TimeSeekKind::kRange};
  if (!ParseNptTime(Trim(value.substr(0, dash)), &seek.startMs)) return malformed;
  std::string endText = Trim(value.substr(dash + 1));
  if (!endText.empty() && (!ParseNptTime(endText, &seek.endMs) || seek.endMs <= seek.startMs))
    return malformed;
  return seek;
}

std::string FormatNpt(int64_t ms) {
  char text[48];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld",
                static_cast<long long>(ms / kMsPerHour),
                static_cast<long long>(ms % kMsPerHour / kMsPerMinute),
                static_cast<long long>(ms % kMsPerMinute / kMsPerSecond),
                static_cast<long long>(ms % kMsPerSecond));
  return text;
}

std::string TimeSeekAnswer(const TimeSeek& seek, int64_t durationMs) {
  int64_t end = seek.endMs >= 0 ? seek.endMs : durationMs;
  std::string answer = "npt=" + FormatNpt(seek.startMs) + "-";
  if (end >= 0) answer += FormatNpt(end);
  return answer + "/" + (durationMs >= 0 ? FormatNpt(durationMs) : std::string("*"));
}

int64_t ParseOfferDuration(const std::string& duration) {
  int64_t ms = -1;
  std::string text = Trim(duration);
  // The plug-in writes one digit of fraction ("1:02:03.0"); hours may have any number of digits.
  size_t dot = text.find('.');
  if (dot != std::string::npos && text.size() - dot - 1 > 3) text.resize(dot + 4);
  return text.find(':') != std::string::npos && ParseNptTime(text, &ms) ? ms : -1;
}

std::string ProtocolInfoField(const std::string& protocolInfo, int which) {
  size_t begin = 0;
  for (int field = 0; field < which; ++field) {
    size_t colon = protocolInfo.find(':', begin);
    if (colon == std::string::npos) return "";
    begin = colon + 1;
  }
  if (which == kProtocolInfoFields - 1) return protocolInfo.substr(begin);
  size_t colon = protocolInfo.find(':', begin);
  return protocolInfo.substr(begin, colon == std::string::npos ? std::string::npos : colon - begin);
}
