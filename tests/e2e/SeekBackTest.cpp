// A seek to a key frame a little behind what the multiplexer has already been given: the
// source times step back by less than a large jump. The stream must start a new time base
// there, not carry on with decode times that run past the presentation times.
#include <gtest/gtest.h>

#include "tests/support/MuxFixture.h"
#include "tests/support/TsChecker.h"

namespace {

std::string Problems(const TsReport& report) {
  std::string text;
  for (const std::string& problem : report.problems) text += problem + "\n";
  return text;
}

TEST(SeekBack, AShortStepBackStartsANewTimeBase) {
  std::string dir = std::string(VEXA_BINARY_DIR) + "/tests/e2e/fixtures";
  std::vector<EsStream> streams = MakeFixture(dir, "seek_back", "320x240", 3, {"aac"});
  ASSERT_EQ(streams.size(), 2u);
  int64_t end = streams[0].samples.back().ptsMs;
  // The second pass starts half a second before where the first one stopped.
  for (int64_t stepBackMs : {500, 120}) {
    int64_t shift = end - streams[0].samples.front().ptsMs - stepBackMs;
    PipelineRun run = RunPipeline(streams, {{0}, {shift}}, true);
    TsReport report = CheckTransportStream(run.output);
    EXPECT_TRUE(report.problems.empty()) << "step back " << stepBackMs << " ms\n" << Problems(report);
    EXPECT_GE(report.discontinuities, 1u) << "step back " << stepBackMs << " ms is not marked";
    size_t s = 0;
    for (auto& [pid, pes] : report.pes) {
      ASSERT_LT(s, streams.size());
      ASSERT_EQ(pes.size(), 2 * streams[s].samples.size()) << "stream " << s;
      int64_t offset = pes[0].pts - streams[s].samples[0].ptsMs * 90;
      size_t half = streams[s].samples.size();
      for (size_t i = 0; i < half; ++i) {
        EXPECT_EQ(pes[i].pts, streams[s].samples[i].ptsMs * 90 + offset) << "stream " << s << " sample " << i;
        EXPECT_EQ(pes[half + i].pts, (streams[s].samples[i].ptsMs + shift) * 90 + offset)
            << "stream " << s << " sample " << i << " after the step back";
      }
      ++s;
    }
  }
}

}  // namespace
