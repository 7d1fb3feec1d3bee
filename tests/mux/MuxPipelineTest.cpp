// The multiplexer library behind the real pipeline, on streams FFmpeg extracted from real files.
#include <gtest/gtest.h>

#include "pipeline/TranscodeEncodeFake.h"
#include "pipeline/TranscodeMuxMP2.h"
#include "pipeline/TranscodeSink.h"
#include "tests/support/MuxFixture.h"
#include "tests/support/TsChecker.h"

namespace {

const std::string kDir = std::string(VEXA_BINARY_DIR) + "/tests/mux/fixtures";


// FFmpeg decodes the whole stream without a single error message.
std::string FfmpegErrors(const std::vector<uint8_t>& ts, const std::string& name) {
  std::string path = kDir + "/" + name + ".ts";
  std::string log = path + ".log";
  if (!WriteFile(path, ts)) return "cannot write " + path;
  RunCommand("ffmpeg -v error -xerror -i " + path + " -f null -", log);
  return ReadFileText(log);
}

// PIDs in PMT order: the library numbers them in the order the streams were added.
std::vector<uint16_t> PidsOf(const TsReport& report) {
  std::vector<uint16_t> pids;
  for (auto& entry : report.streamTypes) pids.push_back(entry.first);
  return pids;
}

// Every PES carries its sample's source time plus one offset shared by all streams.
void ExpectSourceTimes(const TsReport& report, const std::vector<EsStream>& streams,
                       const std::vector<FeedPass>& passes) {
  std::vector<uint16_t> pids = PidsOf(report);
  ASSERT_EQ(pids.size(), streams.size());
  bool offsetKnown = false;
  int64_t offset = 0;
  for (size_t s = 0; s < streams.size(); ++s) {
    const std::vector<TsPesInfo>& pes = report.pes.at(pids[s]);
    ASSERT_EQ(pes.size(), streams[s].samples.size() * passes.size()) << "stream " << s;
    size_t i = 0;
    for (const FeedPass& pass : passes)
      for (const EsSample& sample : streams[s].samples) {
        ASSERT_TRUE(pes[i].hasPts);
        int64_t delta = pes[i].pts - (sample.ptsMs + pass.shiftMs) * 90;
        if (!offsetKnown) offset = delta, offsetKnown = true;
        ASSERT_EQ(delta, offset) << "stream " << s << " sample " << i;
        ++i;
      }
  }
}

// Audio leaves byte for byte; each picture after the first is the source's access unit.
void ExpectPayloads(const TsReport& report, const std::vector<EsStream>& streams) {
  std::vector<uint16_t> pids = PidsOf(report);
  for (size_t s = 0; s < streams.size(); ++s) {
    const std::vector<TsPesInfo>& pes = report.pes.at(pids[s]);
    for (size_t i = streams[s].code == 10 ? 1 : 0; i < streams[s].samples.size() && i < pes.size(); ++i)
      ASSERT_TRUE(pes[i].payload == streams[s].samples[i].bytes) << "stream " << s << " sample " << i;
  }
}

struct MuxCase {
  const char* name;
  std::vector<FeedPass> passes;
  int64_t audioDelayMs;     // audio starting after the picture holds nothing up for long
  int64_t stepBackMs;       // > 0: a second pass starting this far before the first one ended
  size_t discontinuities;   // each jump in time starts a new time base behind the indicator
};

void PrintTo(const MuxCase& c, std::ostream* out) { *out << c.name; }

class MuxPipelineCase : public testing::TestWithParam<MuxCase> {};

// Every sample arrives at its source time plus one offset, audio byte for byte, pictures with
// B-frames (DTS before PTS) on the PCR PID; the checker and FFmpeg find nothing wrong.
TEST_P(MuxPipelineCase, SourceTimesPayloadsAndRulesHold) {
  std::vector<EsStream> streams = MakeFixture(kDir, "h264_aac", "320x240", 4, {"aac"});
  ASSERT_EQ(streams.size(), 2u) << "ffmpeg could not make the fixture";
  for (EsSample& sample : streams[1].samples) sample.ptsMs += GetParam().audioDelayMs;
  std::vector<FeedPass> passes = GetParam().passes;
  int64_t span = streams[0].samples.back().ptsMs - streams[0].samples.front().ptsMs;
  if (GetParam().stepBackMs) passes.push_back({span - GetParam().stepBackMs});
  PipelineRun run = RunPipeline(streams, passes, true);
  EXPECT_EQ(run.readResultAtEnd, -1);
  TsReport report = CheckTransportStream(run.output);
  EXPECT_TRUE(report.problems.empty()) << Problems(report);
  ASSERT_EQ(report.streamTypes.size(), 2u);
  EXPECT_EQ(report.streamTypes.begin()->second, 0x1B);
  EXPECT_EQ(report.pcrPid, report.streamTypes.begin()->first);
  EXPECT_EQ(report.discontinuities, GetParam().discontinuities);
  ExpectSourceTimes(report, streams, passes);
  ExpectPayloads(report, streams);
  bool reordered = false;
  for (const TsPesInfo& pes : report.pes.begin()->second) reordered |= pes.hasDts;
  EXPECT_TRUE(reordered);
  EXPECT_EQ(FfmpegErrors(run.output, GetParam().name), "");
}

INSTANTIATE_TEST_SUITE_P(Feeds, MuxPipelineCase,
                         testing::Values(MuxCase{"plain", {{0}}, 0, 0, 0},
                                         MuxCase{"jumps", {{0}, {-500}, {60000}}, 0, 0, 2},
                                         MuxCase{"late_audio", {{0}}, 3000, 0, 0},
                                         MuxCase{"step_back_500", {{0}}, 0, 500, 1},
                                         MuxCase{"step_back_120", {{0}}, 0, 120, 1}),
                         [](const testing::TestParamInfo<MuxCase>& info) { return std::string(info.param.name); });

// A stream that never delivers a sample holds nothing up and breaks no rule.
TEST(MuxPipeline, SilentStream) {
  std::vector<EsStream> streams = MakeFixture(kDir, "h264_aac", "320x240", 4, {"aac"});
  ASSERT_EQ(streams.size(), 2u);
  streams[1].samples.clear();
  TsReport report = CheckTransportStream(RunPipeline(streams, {{0}}, true).output);
  EXPECT_TRUE(report.problems.empty()) << Problems(report);
  EXPECT_EQ(report.streamTypes.size(), 2u);
  EXPECT_EQ(report.pes.begin()->second.size(), streams[0].samples.size());
}

TEST(TsCheckerSelfTest, CatchesDamage) {
  std::vector<EsStream> streams = MakeFixture(kDir, "h264_aac", "320x240", 4, {"aac"});
  ASSERT_EQ(streams.size(), 2u);
  std::vector<uint8_t> ts = RunPipeline(streams, {{0}}).output;
  ASSERT_GT(ts.size(), 188u * 400);
  std::vector<uint8_t> dropped = ts;
  dropped.erase(dropped.begin() + 188 * 300, dropped.begin() + 188 * 301);
  EXPECT_FALSE(CheckTransportStream(dropped).problems.empty());
  std::vector<uint8_t> noSync = ts;
  noSync[188 * 5] = 0x46;
  EXPECT_FALSE(CheckTransportStream(noSync).problems.empty());
  // Every packet carrying a PCR removed from the second half: the interval is broken.
  std::vector<uint8_t> sparse;
  for (size_t at = 0; at < ts.size(); at += 188) {
    bool pcrOnly = (ts[at + 3] & 0x30) == 0x20 && (ts[at + 5] & 0x10);
    if (!(pcrOnly && at > ts.size() / 2 && at < ts.size() * 3 / 4)) sparse.insert(sparse.end(), ts.begin() + long(at), ts.begin() + long(at + 188));
  }
  EXPECT_FALSE(CheckTransportStream(sparse).problems.empty());
}

struct Reports : CTranscodeNodeObserver {
  void Notify(int32_t code) override { codes.push_back(code); }
  std::vector<int32_t> codes;
};

// The library takes H.264, AAC, AC-3 and MPEG audio; the other codes the node passes on are refused.
TEST(MuxPipeline, LibraryRefusesOtherCodings) {
  Reports reports;
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
