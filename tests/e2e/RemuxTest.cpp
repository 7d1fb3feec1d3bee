// vexa-transcode, the plug-in and the multiplexer library together, on Matroska files of every
// shape the transport-stream road has to handle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "mux/H264AccessUnit.h"
#include "tests/support/MuxFixture.h"

namespace {

constexpr int64_t kAudioFrameSlack90 = 50 * 90;  // more than one audio frame of any kept coding
// Laced audio frames carry no time of their own: the reader counts them out in samples where
// ffprobe rounds to the file's milliseconds.
constexpr int64_t kLacedTimeSlack90 = 3 * 90;

class Remux : public testing::Test {
 protected:
  static void SetUpTestSuite() { UseTestEnvironment(); }

  // Runs vexa-transcode on the named fixture; the output's path, with the checker's report in
  // report_.
  std::string Transcode(const std::string& fixture, const std::string& tag, std::vector<std::string> options = {}) {
    std::string output = FixtureDir() + "/" + tag + ".ts", source = MakeMkvFixture(fixture);
    EXPECT_FALSE(source.empty()) << "cannot make " << fixture;
    options.insert(options.end(), {"--output", output, source});
    ProgramRun run = RunTranscode(options);
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    report_ = CheckTransportStream(ReadBytes(output));
    EXPECT_TRUE(report_.problems.empty()) << Problems(report_);
    return output;
  }

  // Presentation times of the video's or the n-th audio stream's packets, in order of arrival.
  std::vector<int64_t> OutputTimes(bool video, size_t n = 0) const {
    std::vector<int64_t> times;
    for (const TsPesInfo& pes : report_.pes.at(Pids(report_, video).at(n))) times.push_back(pes.hasPts ? pes.pts : -1);
    return times;
  }

  TsReport report_;
};

// The tracks of the named fixture before any damage done to it.
std::vector<SourceTrack> SourceTracks(const std::string& fixture) {
  return ProbeTracks(MakeMkvFixture(UndamagedFixture(fixture)));
}

std::vector<int64_t> Times(const std::vector<SourcePacket>& packets) {
  std::vector<int64_t> times;
  for (const SourcePacket& packet : packets) times.push_back(packet.pts90);
  return times;
}

std::vector<int64_t> Sorted(std::vector<int64_t> times) {
  std::sort(times.begin(), times.end());
  return times;
}

std::vector<int64_t> Shifted(std::vector<int64_t> times, int64_t by) {
  for (int64_t& time : times) time += by;
  return times;
}

// The last key frame of the source's video at or before `ms`.
int64_t KeyFrameAtOrBefore(const SourceTrack& video, int64_t ms) {
  int64_t keyFrame = -1;
  for (const SourcePacket& packet : video.packets)
    if (packet.key && packet.pts90 <= ms * 90) keyFrame = std::max(keyFrame, packet.pts90);
  return keyFrame;
}

bool KeptAudio(const SourceTrack& track) {
  return track.codecType == "audio" &&
         (track.codecName == "aac" || track.codecName == "ac3" || track.codecName == "mp3");
}

// The source's audio packets a remultiplexed stream must carry: every one to the end of the
// file, also where the video has ended or not yet begun.
void ExpectAudioTrack(const SourceTrack& track, const std::vector<int64_t>& output, int64_t offset) {
  std::vector<int64_t> expected = Shifted(Times(track.packets), offset);
  ASSERT_EQ(output.size(), expected.size()) << track.codecName << ": audio lost or added";
  for (size_t i = 0; i < output.size(); ++i)
    ASSERT_NEAR(output[i], expected[i], kLacedTimeSlack90 - 1) << track.codecName << " frame " << i << " moved";
}

class RemuxCorpus : public Remux, public testing::WithParamInterface<const char*> {};

TEST_P(RemuxCorpus, EveryPictureAndEveryKeptAudioTrackKeepTheirSourceTimes) {
  std::vector<SourceTrack> tracks = SourceTracks(GetParam());
  std::string output = Transcode(GetParam(), GetParam());
  EXPECT_EQ(FfmpegDecodeErrors(output), "");

  ASSERT_EQ(Pids(report_, true).size(), 1u);
  std::vector<int64_t> video = Sorted(OutputTimes(true));
  const SourceTrack& sourceVideo = tracks.at(0);
  ASSERT_EQ(sourceVideo.codecType, "video");
  std::vector<int64_t> sourceTimes = Sorted(Times(sourceVideo.packets));
  ASSERT_EQ(video.size(), sourceTimes.size()) << "pictures lost or added";
  int64_t offset = video.front() - sourceTimes.front();
  EXPECT_EQ(video, Shifted(sourceTimes, offset)) << "pictures moved";

  size_t kept = 0;
  for (const SourceTrack& track : tracks) {
    if (!KeptAudio(track)) continue;
    ASSERT_LT(kept, Pids(report_, false).size()) << "audio track " << track.codecName << " missing";
    ExpectAudioTrack(track, OutputTimes(false, kept++), offset);
  }
  EXPECT_EQ(kept, Pids(report_, false).size());
  EXPECT_EQ(report_.streamTypes.size(), 1 + kept) << "a stream that is neither video nor kept audio";
}

INSTANTIATE_TEST_SUITE_P(Corpus, RemuxCorpus,
                         testing::Values("h264_aac", "ac3_51", "mp3", "multi_audio_subs", "vfr",
                                         "late_audio", "piped", "no_cues", "zlib", "broken_avcc_inband",
                                         "big_frames", "pyramid_23976"));

// A file that cannot be served is refused when it is offered; one damaged frame is left out
// and the stream goes on to the end.
TEST_F(Remux, DamagedSourcesAreRefusedOrServedToTheEnd) {
  std::string refused = MakeMkvFixture("broken_avcc");  // no parameter sets anywhere
  ASSERT_FALSE(refused.empty());
  EXPECT_NE(RunTranscode({"--output", FixtureDir() + "/broken_avcc.ts", refused}).exitCode, 0);

  std::vector<SourceTrack> tracks = SourceTracks("zlib_corrupt");
  Transcode("zlib_corrupt", "zlib_corrupt");
  EXPECT_EQ(OutputTimes(true).size(), tracks.at(0).packets.size() - 1);
  EXPECT_EQ(OutputTimes(false).size(), tracks.at(1).packets.size());

  Transcode("aac_no_private", "aac_no_private");  // its audio cannot be framed
  EXPECT_EQ(OutputTimes(true).size(), tracks.at(0).packets.size());
  EXPECT_TRUE(Pids(report_, false).empty());
}

// The NAL unit types of a picture hold all of `wanted`.
bool Holds(const TsPesInfo& picture, std::initializer_list<int> wanted) {
  std::vector<H264NalUnit> nals = H264SplitNalUnits(picture.payload.data(), picture.payload.size());
  return std::all_of(wanted.begin(), wanted.end(), [&](int type) {
    return std::any_of(nals.begin(), nals.end(), [&](const H264NalUnit& nal) { return nal.type == type; });
  });
}

// Source pictures in decode order from the first key frame at or after `from`.
std::vector<int64_t> DecodeOrderFrom(const SourceTrack& video, int64_t from) {
  std::vector<int64_t> times;
  bool started = false;
  for (const SourcePacket& packet : video.packets) {
    started |= packet.key && packet.pts90 >= from;
    if (started) times.push_back(packet.pts90);
  }
  return times;
}

TEST_F(Remux, StartOpensWithTablesThenAKeyFrameWithParameterSets) {
  std::vector<SourceTrack> tracks = SourceTracks("h264_aac");
  Transcode("h264_aac", "start_0");
  int64_t offset = OutputTimes(true).front() - Sorted(Times(tracks.at(0).packets)).front();
  Transcode("h264_aac", "start_1500", {"--start", "1500"});  // the checker wants the PAT first

  int64_t keyFrame = KeyFrameAtOrBefore(tracks.at(0), 1500);
  ASSERT_GT(keyFrame, 0) << "the fixture needs a key frame after its first";
  const TsPesInfo& first = report_.pes.at(Pids(report_, true)[0]).front();
  EXPECT_EQ(first.pts - offset, keyFrame);
  EXPECT_TRUE(Holds(first, {7, 8, 5})) << "the first picture lacks SPS, PPS or its IDR slice";

  EXPECT_EQ(Sorted(OutputTimes(true)), Shifted(Sorted(DecodeOrderFrom(tracks.at(0), keyFrame)), offset));
  std::vector<int64_t> audio = OutputTimes(false);
  ASSERT_FALSE(audio.empty());
  EXPECT_GE(audio.front() - offset, keyFrame);
  EXPECT_LT(audio.front() - offset, keyFrame + kAudioFrameSlack90) << "audio does not start with the picture";
}

struct SeekCase {
  const char* fixture;
  const char* seekAt;  // bytes read, then the position in ms
};

class RemuxSeek : public Remux, public testing::WithParamInterface<SeekCase> {};

// The host seeks after reading a while: what it reads next starts at the key frame before the
// target, whatever the pipeline held or had read ahead (all of a short file), and the seek
// must not wait for the worker, which waits for the host.
TEST_P(RemuxSeek, ContinuesFromTheKeyFrameBeforeTheTarget) {
  std::vector<SourceTrack> tracks = SourceTracks(GetParam().fixture);
  std::string output = Transcode(GetParam().fixture, std::string("seek_") + GetParam().fixture, {"--seek-at", GetParam().seekAt});
  EXPECT_GE(report_.discontinuities, 1u) << "the jump back in time is not marked";

  std::vector<int64_t> tail = DecodeOrderFrom(tracks.at(0), KeyFrameAtOrBefore(tracks.at(0), 1500));
  std::vector<int64_t> all = DecodeOrderFrom(tracks.at(0), 0);
  std::vector<int64_t> video = OutputTimes(true);
  ASSERT_GT(video.size(), tail.size()) << "the seek came too late to show";
  int64_t offset = video.front() - all.front();
  size_t head = video.size() - tail.size();
  EXPECT_EQ(std::vector<int64_t>(video.begin(), video.begin() + long(head)),
            Shifted(std::vector<int64_t>(all.begin(), all.begin() + long(head)), offset))
      << "the pictures before the seek are not the source's first ones";
  EXPECT_EQ(std::vector<int64_t>(video.begin() + long(head), video.end()), Shifted(tail, offset))
      << "the pictures after the seek are not the source's from the key frame on";
  const TsPesInfo& first = report_.pes.at(Pids(report_, true)[0])[head];
  EXPECT_TRUE(Holds(first, {7, 8})) << "no parameter sets after the seek";
  // vexa-transcode reads 1 MiB at a time: no more than that, and the new stream's first audio,
  // may come between the seek and its first picture.
  EXPECT_LE(first.firstByte, std::stoul(GetParam().seekAt) + (1u << 20) + (64u << 10)) << "pre-seek data after the seek";
  // The stream after the seek decodes cleanly; the one before ends wherever the host stopped
  // reading, in mid-picture. The new stream opens with its PAT a few packets before its
  // first picture.
  std::vector<uint8_t> bytes = ReadBytes(output);
  size_t opening = first.firstByte;
  while (opening >= 188 && !(bytes[opening + 1] == 0x40 && bytes[opening + 2] == 0)) opening -= 188;
  std::string after = output + ".after_seek.ts";
  ASSERT_TRUE(WriteFile(after, std::vector<uint8_t>(bytes.begin() + long(opening), bytes.end())));
  // Only the decoders' errors: FFmpeg's own muxing of decoded frames takes the jump back for one.
  std::string probe = "ffprobe -v error -show_entries frame=pts -of csv=p=0 -i " + after;
  EXPECT_EQ(RunShell(probe + " 2>&1 >/dev/null").output, "");
}

// long_640: 5 MB read, the source read on past the target. h264_aac: every block read ahead.
INSTANTIATE_TEST_SUITE_P(Seek, RemuxSeek,
                         testing::Values(SeekCase{"long_640", "5000000:1500"}, SeekCase{"h264_aac", "60000:1500"}));

TEST_F(Remux, PauseMidStreamLosesAndRepeatsNothing) {
  std::vector<SourceTrack> tracks = SourceTracks("long_640");
  std::string output = Transcode("long_640", "pause", {"--pause-at", "400000:300", "--pause-at", "2000000:100"});
  EXPECT_EQ(FfmpegDecodeErrors(output), "");
  std::vector<int64_t> video = OutputTimes(true);
  std::vector<int64_t> all = DecodeOrderFrom(tracks.at(0), 0);
  ASSERT_FALSE(video.empty());
  EXPECT_EQ(video, Shifted(all, video.front() - all.front()));
  EXPECT_EQ(report_.discontinuities, 0u);
}

// vexa-transcode's peak resident size on a long 1080p file at a high bit rate: the buffers of the
// road are bounded, whatever the length of the source.
TEST_F(Remux, RemultiplexingA1080pMinuteStaysUnder64MiB) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's own memory says nothing about the program's";
#endif
  std::string source = MakeMkvFixture("hd_60s");
  ASSERT_FALSE(source.empty());
  ProgramRun run = RunTranscode({"--output", "/dev/null", source});
  EXPECT_EQ(run.exitCode, 0) << run.standardError;
  EXPECT_GT(run.peakRssKiB, 0);
  EXPECT_LT(run.peakRssKiB, 64 * 1024);
  std::printf("peak resident size of vexa-transcode: %ld KiB\n", run.peakRssKiB);
}

}  // namespace
