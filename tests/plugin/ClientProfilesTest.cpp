#include <gtest/gtest.h>

#include "plugin/ClientProfiles.h"

namespace {

TEST(ClientRecognition, RulesApplyInOrderIgnoringCase) {
  const std::pair<const char*, ClientProfile> cases[] = {
      {"Windows-Media-Player/12.0", ClientWindowsMediaPlayer},
      {"NSPlayer/12.00 WMFSDK/12.00", ClientWindowsMediaPlayer},
      {"NSPlayer/12.00", ClientUnknown},                       // needs both texts
      {"Xbox NSPlayer/11 WMFSDK/11", ClientWindowsMediaPlayer},  // the first rule wins
      {"PLAYSTATION 3", ClientPlayStation3},
      {"playStation 3 xbox", ClientPlayStation3},
      {"XBOX/2.0", ClientXbox},
      {"Dalvik/1.6.0 (Linux; Android 4.2; NEXUS 7 Build)", ClientNexus7},
      {"dalvik/1.6.0 (Linux; Android 4.2; Galaxy)", ClientAndroid},
      {"stackvale control point", ClientControlPoint},
      {"Mozilla/5.0", ClientUnknown},
      {"", ClientUnknown},
  };
  for (auto [agent, profile] : cases) EXPECT_EQ(RecognizeClient(agent), profile) << agent;
  EXPECT_EQ(RecognizeClient(nullptr), ClientUnknown);
}

TEST(DurationFormat, HoursMinutesSecondsTruncated) {
  const std::pair<int64_t, const char*> cases[] = {
      {3723000, "1:02:03.0"}, {59999, "0:00:59.0"}, {-1, "0:00:00.0"},
      {0, "0:00:00.0"},       {-61000, "0:00:00.0"}, {360000000, "100:00:00.0"},
  };
  for (auto [ms, text] : cases) {
    char buffer[kDurationBufferSize];
    FormatDuration(ms, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, text) << ms;
  }
}

}  // namespace
