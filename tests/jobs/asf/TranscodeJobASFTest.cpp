// The encoder's command line and the reading of its banner.
#include <gtest/gtest.h>

#include "jobs/TranscodeJobASF.h"

namespace {

using Verdict = CTranscodeJobASF::BannerVerdict;

TEST(AsfCommandLine, ArgumentsInTheEncodersOrderWithTheOffset) {
  const std::pair<int64_t, const char16_t*> offsets[] = {
      {5025678, u"01:23:45.678"}, {0, u"00:00:00.000"},       {59999, u"00:00:59.999"},
      {1800000, u"00:30:00.000"}, {360000000, u"100:00:00.000"}, {-5, u"00:00:00.000"}};
  for (auto [ms, text] : offsets) EXPECT_EQ(CTranscodeJobASF::FormatOffset(ms), text) << ms;
  std::vector<std::u16string> expected = {
      u"/opt/my ffmpeg", u"-ss", u"00:01:00.000", u"-i", u"/m/it's \"a\".mkv", u"-vcodec", u"wmv2",
      u"-s", u"640x360", u"-q:v", u"5", u"-acodec", u"wmav2", u"-ac", u"2", u"-f", u"asf", u"-"};
  EXPECT_EQ(CTranscodeJobASF::BuildArguments(u"/opt/my ffmpeg", u"/m/it's \"a\".mkv", 60000), expected);
}

TEST(AsfBanner, DurationFractionIsADecimalFractionOfASecond) {
  const std::pair<const char*, int64_t> cases[] = {
      {"00:01:23.45, start: 0.000000", 83450}, {"01:02:03.4", 3723400},
      {"123:00:08.023999", 442808023},         {"N/A, start: 0.000000", -1},
      {"00:1:23.45", -1}};
  for (auto [text, expected] : cases) {
    int64_t ms = -1;  // left alone when the text does not parse
    EXPECT_EQ(CTranscodeJobASF::ParseDuration(text, ms), expected >= 0) << text;
    EXPECT_EQ(ms, expected) << text;
  }
}

// The input's duration line ends the banner once its field is there; no word of the
// metadata (a title "Terror Train", a comment naming a duration) decides anything.
TEST(AsfBanner, OnlyTheInputsDurationLineEndsTheBanner) {
  const std::string head = "Input #0, matroska,webm, from 'errors/Terror.mkv':\n  Metadata:\n"
                           "    title           : Error: Terror Train\n"
                           "    comment         : Duration: 00:00:01.00, start\n";
  const struct { std::string text; Verdict verdict; int64_t ms; } cases[] = {
      {head, Verdict::kReadOn, 0},
      {head + "  Duration: 00:0", Verdict::kReadOn, 0},
      {head + "  Duration: 00:01:23.45, s", Verdict::kDuration, 83450},
      {head + "  Duration: N/A, start: 0.0\n", Verdict::kDuration, -1},
  };
  for (const auto& c : cases) {
    int64_t ms = 0;
    EXPECT_EQ(CTranscodeJobASF::InspectBanner(c.text, false, ms), c.verdict) << c.text;
    EXPECT_EQ(ms, c.ms) << c.text;
  }
}

}  // namespace
