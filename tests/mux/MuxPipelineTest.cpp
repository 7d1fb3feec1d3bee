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

TEST(MuxPipeline, H264WithBFramesAndAac) {
  std::vector<EsStream> streams = MakeFixture(kDir, "h264_aac", "320x240", 4, {"aac"});
  ASSERT_EQ(streams.size(), 2u) << "ffmpeg could not make the fixture";
  std::vector<FeedPass> passes = {{0}};
  PipelineRun run = RunPipeline(streams, passes, true);
  EXPECT_EQ(run.readResultAtEnd, -1);
  TsReport report = CheckTransportStream(run.output);
  EXPECT_TRUE(report.problems.empty()) << Problems(report);
  EXPECT_EQ(report.streamTypes.size(), 2u);
  EXPECT_EQ(report.streamTypes.begin()->second, 0x1B);
  EXPECT_EQ(report.pcrPid, report.streamTypes.begin()->first);
  EXPECT_EQ(report.discontinuities, 0u);
  ExpectSourceTimes(report, streams, passes);
  ExpectPayloads(report, streams);
  bool reordered = false;
  for (const TsPesInfo& pes : report.pes.begin()->second) reordered |= pes.hasDts;
  EXPECT_TRUE(reordered);
  EXPECT_EQ(FfmpegErrors(run.output, "h264_aac"), "");
}

// The source is re-positioned twice, backwards and then forwards: each jump starts a new time
// base behind a discontinuity indicator, and the stream stays decodable.
TEST(MuxPipeline, TimeJumpsCarryTheDiscontinuityIndicator) {
  std::vector<EsStream> streams = MakeFixture(kDir, "h264_aac", "320x240", 4, {"aac"});
  ASSERT_EQ(streams.size(), 2u);
  std::vector<FeedPass> passes = {{0}, {-500}, {60000}};
  PipelineRun run = RunPipeline(streams, passes, true);
  TsReport report = CheckTransportStream(run.output);
  EXPECT_TRUE(report.problems.empty()) << Problems(report);
  EXPECT_EQ(report.discontinuities, 2u);
  ExpectSourceTimes(report, streams, passes);
  EXPECT_EQ(FfmpegErrors(run.output, "jumps"), "");
}

// Audio that starts three seconds after the picture, and a stream that never delivers a
// sample, hold nothing up for long and break no rule.
TEST(MuxPipeline, LateAndSilentStreams) {
  std::vector<EsStream> streams = MakeFixture(kDir, "h264_aac", "320x240", 4, {"aac"});
  ASSERT_EQ(streams.size(), 2u);
  for (EsSample& sample : streams[1].samples) sample.ptsMs += 3000;
  PipelineRun late = RunPipeline(streams, {{0}}, true);
  TsReport report = CheckTransportStream(late.output);
  EXPECT_TRUE(report.problems.empty()) << "late audio:\n" << Problems(report);
  EXPECT_EQ(FfmpegErrors(late.output, "late"), "");
  ExpectSourceTimes(report, streams, {{0}});

  streams[1].samples.clear();
  PipelineRun silent = RunPipeline(streams, {{0}}, true);
  report = CheckTransportStream(silent.output);
  EXPECT_TRUE(report.problems.empty()) << "silent stream:\n" << Problems(report);
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

// A seek to a key frame a little behind what the multiplexer has already been given: the
// source times step back by less than a large jump. The stream must start a new time base
// there, not carry on with decode times that run past the presentation times.
TEST(SeekBack, AShortStepBackStartsANewTimeBase) {
    std::vector<EsStream> streams = MakeFixture(kDir, "seek_back", "320x240", 3, {"aac"});
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
