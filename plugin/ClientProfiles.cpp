#include "plugin/ClientProfiles.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

bool ContainsIgnoringCase(const char* text, const char* needle) {
  size_t n = std::strlen(needle);
  for (; *text; ++text) {
    size_t i = 0;
    while (i < n && text[i] &&
           std::toupper(static_cast<unsigned char>(text[i])) ==
               std::toupper(static_cast<unsigned char>(needle[i])))
      ++i;
    if (i == n) return true;
  }
  return n == 0;
}

struct RecognitionRule {
  const char* first;
  const char* second;  // null when one text decides
  ClientProfile profile;
};

constexpr RecognitionRule kRules[] = {
    {"windows-media-player", nullptr, ClientWindowsMediaPlayer},
    {"NSPlayer", "WMFSDK", ClientWindowsMediaPlayer},
    {"playstation 3", nullptr, ClientPlayStation3},
    {"xbox", nullptr, ClientXbox},
    {"dalvik", "nexus 7", ClientNexus7},
    {"dalvik", nullptr, ClientAndroid},
    {"Stackvale Control Point", nullptr, ClientControlPoint},
};

}  // namespace

ClientProfile RecognizeClient(const char* userAgent) {
  if (!userAgent) return ClientUnknown;
  for (const RecognitionRule& rule : kRules) {
    if (!ContainsIgnoringCase(userAgent, rule.first)) continue;
    if (rule.second && !ContainsIgnoringCase(userAgent, rule.second)) continue;
    return rule.profile;
  }
  return ClientUnknown;
}

bool IsCachedProfile(int32_t profile) {
  return profile == ClientPlayStation3 || profile == ClientXbox || profile == ClientNexus7;
}

bool IsServedProfile(int32_t profile) {
  return profile == ClientControlPoint || IsCachedProfile(profile);
}

void FormatDuration(int64_t ms, char* out, size_t size) {
  if (ms < 0) ms = 0;  // unknown: the division below would otherwise print negative fields
  constexpr int64_t kMsPerSecond = 1000, kMsPerMinute = 60 * kMsPerSecond,
                    kMsPerHour = 60 * kMsPerMinute;
  int hours = static_cast<int>(ms / kMsPerHour);
  int64_t rest = ms % kMsPerHour;
  int minutes = static_cast<int>(rest / kMsPerMinute);
  int seconds = static_cast<int>(rest % kMsPerMinute / kMsPerSecond);
  std::snprintf(out, size, "%d:%02d:%02d.0", hours, minutes, seconds);
}
