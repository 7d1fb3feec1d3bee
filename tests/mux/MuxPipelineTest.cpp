// The multiplexer library behind the real pipeline, on streams FFmpeg extracted from real files.
#include <gtest/gtest.h>

#include <optional>

#include "pipeline/TranscodeEncodeFake.h"
#include "pipeline/TranscodeMuxMP2.h"
#include "pipeline/TranscodeSink.h"
#include "tests/support/MuxFixture.h"
#include "tests/support/NodeStandIns.h"

namespace {

const std::string kDir = std::string(VEXA_BINARY_DIR) + "/tests/mux/fixtures";

struct MuxCase {
  const char* name;
  std::vector<int64_t> passShiftsMs;
  int64_t audioDelayMs;     // audio starting after the picture holds nothing up for long
  int64_t stepBackMs;       // > 0: a second pass starting this far before the first one ended
  size_t discontinuities;   // each jump in time starts a new time base behind the indicator
  bool silentAudio;         // a stream that never delivers a sample holds nothing up
};

void PrintTo(const MuxCase& c, std::ostream* out) { *out << c.name; }

class MuxPipelineCase : public testing::TestWithParam<MuxCase> {};

// Every PES carries its sample's source time plus one offset shared by all streams; audio
// leaves byte for byte, each picture after the first of a pass as the source's access unit,
// pictures with B-frames (DTS before PTS) on the PCR PID. PIDs follow the order in which the
// streams were added. The checker and FFmpeg find nothing wrong.
TEST_P(MuxPipelineCase, SourceTimesPayloadsAndRulesHold) {
  const MuxCase& c = GetParam();
  std::vector<EsStream> streams = MakeFixture(kDir, "h264_aac", "320x240", 4);
  ASSERT_EQ(streams.size(), 2u) << "ffmpeg could not make the fixture";
  for (EsSample& sample : streams[1].samples) sample.ptsMs += c.audioDelayMs;
  if (c.silentAudio) streams[1].samples.clear();
  std::vector<int64_t> passes = c.passShiftsMs;
  int64_t span = streams[0].samples.back().ptsMs - streams[0].samples.front().ptsMs;
  if (c.stepBackMs) passes.push_back(span - c.stepBackMs);
  PipelineRun run = RunPipeline(streams, passes, true);
  EXPECT_EQ(run.readResultAtEnd, -1);
  TsReport report = CheckTransportStream(run.output);
  EXPECT_TRUE(report.problems.empty()) << Problems(report);
  ASSERT_EQ(report.streamTypes.size(), 2u);
  EXPECT_EQ(report.streamTypes.begin()->second, 0x1B);
  EXPECT_EQ(report.pcrPid, report.streamTypes.begin()->first);
  EXPECT_EQ(report.discontinuities, c.discontinuities);
  std::optional<int64_t> offset;
  auto type = report.streamTypes.begin();
  for (size_t s = 0; s < streams.size(); ++s, ++type) {
    const std::vector<TsPesInfo>& pes = report.pes[type->first];
    ASSERT_EQ(pes.size(), streams[s].samples.size() * passes.size()) << "stream " << s;
    size_t i = 0;
    for (int64_t shiftMs : passes)
      for (const EsSample& sample : streams[s].samples) {
        ASSERT_TRUE(pes[i].hasPts);
        int64_t delta = pes[i].pts - (sample.ptsMs + shiftMs) * 90;
        ASSERT_EQ(delta, offset.value_or(delta)) << "stream " << s << " sample " << i;
        offset = delta;
        bool opensPass = streams[s].code == 10 && &sample == &streams[s].samples.front();
        ASSERT_TRUE(pes[i].payload == sample.bytes || opensPass) << "stream " << s << " sample " << i;
        ++i;
      }
  }
  bool reordered = false;
  for (const TsPesInfo& pes : report.pes.begin()->second) reordered |= pes.hasDts;
  EXPECT_TRUE(reordered);
  std::string path = kDir + "/" + c.name + ".ts";
  ASSERT_TRUE(WriteFile(path, run.output));
  EXPECT_EQ(FfmpegDecodeErrors(path), "");
}

INSTANTIATE_TEST_SUITE_P(Feeds, MuxPipelineCase,
                         testing::Values(MuxCase{"jumps", {0, -500, 60000}, 0, 0, 2, false},
                                         MuxCase{"late_audio", {0}, 3000, 0, 0, false},
                                         MuxCase{"step_back_120", {0}, 0, 120, 1, false},
                                         MuxCase{"silent_audio", {0}, 0, 0, 0, true}),
                         [](const testing::TestParamInfo<MuxCase>& info) { return std::string(info.param.name); });

// The library takes H.264, AAC, AC-3 and MPEG audio; the other codes the node passes on are refused.
TEST(MuxPipeline, LibraryRefusesOtherCodings) {
  NodeEvents reports;
  auto* sink = new CTranscodeSink(nullptr);
  auto* mux = new CTranscodeMuxMP2(&reports);
  auto* encoder = new CTranscodeEncodeFake(nullptr, 201);
  int32_t code = 0;
  bufstream* face = encoder->GetOutput(&code);
  EXPECT_EQ(mux->SetOutput(sink->WritingFace()), 0);
  mux->AddStream(face, kStreamTypePcm);
  mux->AddStream(face, kStreamTypeMpeg2Video);
  EXPECT_EQ(reports.codes, (std::vector<int32_t>{kNodeEventMuxRefused, kNodeEventMuxRefused}));
  mux->Close();
  mux->Release();
  encoder->Release();
  sink->Release();
}

}  // namespace
