// The encoder's command line and the reading of its banner.
#include <gtest/gtest.h>

#include "jobs/TranscodeJobASF.h"

namespace {

using Verdict = CTranscodeJobASF::BannerVerdict;

TEST(AsfCommandLine, ArgumentsInTheEncodersOrderWithTheOffset) {
  EXPECT_EQ(CTranscodeJobASF::FormatOffset(5025678), u"01:23:45.678");
  EXPECT_EQ(CTranscodeJobASF::FormatOffset(0), u"00:00:00.000");
  EXPECT_EQ(CTranscodeJobASF::FormatOffset(59999), u"00:00:59.999");
  EXPECT_EQ(CTranscodeJobASF::FormatOffset(1800000), u"00:30:00.000");
  EXPECT_EQ(CTranscodeJobASF::FormatOffset(360000000), u"100:00:00.000");
  EXPECT_EQ(CTranscodeJobASF::FormatOffset(-5), u"00:00:00.000");
  std::vector<std::u16string> expected = {
      u"/opt/my ffmpeg", u"-ss", u"00:01:00.000", u"-i", u"/m/it's \"a\".mkv", u"-vcodec", u"wmv2",
      u"-s", u"640x360", u"-q:v", u"5", u"-acodec", u"wmav2", u"-ac", u"2", u"-f", u"asf", u"-"};
  EXPECT_EQ(CTranscodeJobASF::BuildArguments(u"/opt/my ffmpeg", u"/m/it's \"a\".mkv", 60000), expected);
}

TEST(AsfBanner, DurationFractionIsADecimalFractionOfASecond) {
  int64_t ms = 0;
  ASSERT_TRUE(CTranscodeJobASF::ParseDuration("00:01:23.45, start: 0.000000", ms));
  EXPECT_EQ(ms, 83450);
  ASSERT_TRUE(CTranscodeJobASF::ParseDuration("01:02:03.4", ms));
  EXPECT_EQ(ms, 3723400);
  ASSERT_TRUE(CTranscodeJobASF::ParseDuration("123:00:08.023999", ms));
  EXPECT_EQ(ms, 442808023);
  EXPECT_FALSE(CTranscodeJobASF::ParseDuration("N/A, start: 0.000000", ms));
  EXPECT_FALSE(CTranscodeJobASF::ParseDuration("00:1:23.45", ms));
}

TEST(AsfBanner, DurationLineEndsTheBannerOnceItsFieldIsThere) {
  int64_t ms = 0;
  EXPECT_EQ(CTranscodeJobASF::InspectBanner("Input #0\n  Duration: 00:0", "", false, ms), Verdict::kReadOn);
  EXPECT_EQ(CTranscodeJobASF::InspectBanner("  Duration: 00:01:23.45, s", "", false, ms), Verdict::kDuration);
  EXPECT_EQ(ms, 83450);
  EXPECT_EQ(CTranscodeJobASF::InspectBanner("  Duration: N/A, start: 0.0\n", "", false, ms), Verdict::kDuration);
  EXPECT_EQ(ms, -1);
}

TEST(AsfBanner, ErrorWordsFailButNotInTheSourcesName) {
  int64_t ms = 0;
  const std::string source = "/media/errors/Terror.mkv";
  std::string banner = "Input #0, matroska,webm, from '" + source + "':\n  Duration: 00:00:10.00, s\n";
  EXPECT_EQ(CTranscodeJobASF::InspectBanner(banner, source, false, ms), Verdict::kDuration);
  EXPECT_EQ(ms, 10000);
  // A name still being written is judged once its line is complete.
  EXPECT_EQ(CTranscodeJobASF::InspectBanner("from '/media/errors/Ter", source, false, ms), Verdict::kReadOn);
  EXPECT_EQ(CTranscodeJobASF::InspectBanner("Error opening input\n", source, false, ms), Verdict::kError);
  EXPECT_EQ(CTranscodeJobASF::InspectBanner("read error\n" + banner, source, false, ms), Verdict::kError);
}

}  // namespace
