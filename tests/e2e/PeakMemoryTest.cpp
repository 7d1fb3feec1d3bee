// vexa-transcode's peak resident size on a long 1080p file at a high bit rate: the buffers of
// the road are bounded, whatever the length of the source.
#include <gtest/gtest.h>

#include "tests/support/MuxFixture.h"

namespace {

constexpr long kPeakLimitKiB = 64 * 1024;

TEST(PeakMemory, RemultiplexingA1080pMinuteStaysUnder64MiB) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's own memory says nothing about the program's";
#endif
  UseTestEnvironment();
  std::string source = MakeMkvFixture("hd_60s");
  ASSERT_FALSE(source.empty());
  ProgramRun run = RunTranscode({"--output", "/dev/null", source});
  EXPECT_EQ(run.exitCode, 0) << run.standardError;
  EXPECT_GT(run.peakRssKiB, 0);
  EXPECT_LT(run.peakRssKiB, kPeakLimitKiB);
  std::printf("peak resident size of vexa-transcode: %ld KiB\n", run.peakRssKiB);
}

}  // namespace
