// Client recognition by User-Agent, and the texts of the offered resources.
#pragma once

#include <cstddef>
#include <cstdint>

enum ClientProfile : int32_t {
  ClientUnknown = 0,
  ClientWindowsMediaPlayer = 1,
  ClientControlPoint = 2,
  ClientPlayStation3 = 4,
  ClientXbox = 5,
  ClientAndroid = 6,
  ClientNexus7 = 7,
};

// The first rule that holds decides; texts compare as upper case, as substrings.
ClientProfile RecognizeClient(const char* userAgent);

// Profiles that recognition caches per client identifier.
bool IsCachedProfile(int32_t profile);
// Profiles that are offered anything at all.
bool IsServedProfile(int32_t profile);

// Writes "%d:%02d:%02d.0" for a duration in milliseconds; an unknown (negative) one is
// written "0:00:00.0".
void FormatDuration(int64_t ms, char* out, size_t size);

inline constexpr size_t kDurationBufferSize = 128;
inline constexpr char kAsfMimeType[] = "video/x-ms-asf";
