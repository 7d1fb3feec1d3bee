// The ASF job: its command line and banner reading, runs against stand-in encoders (small
// scripts that behave as the real one does, or misbehave), and the whole road with the real
// encoder (Debian's FFmpeg) on Matroska files made at test time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "jobs/TranscodeJobASF.h"
#include "platform/settings/VexaSettings.h"
#include "plugin/TranscoderImpl.h"
#include "tests/support/FakeJob.h"
#include "tests/support/MuxFixture.h"
#include "tests/support/ProcessTestTools.h"
#include "tests/support/SettingsLayers.h"

namespace {

using namespace ProcessTestTools;
using Clock = std::chrono::steady_clock;
using Verdict = CTranscodeJobASF::BannerVerdict;

// The media server's encoder setting, in settings layers of the test's own (every test here
// that reads the setting makes its own).
struct EncoderSetting : TestSupport::SettingsLayers {
  void Set(const std::string& path) {
    veds::SettingsPtr settings;
    ASSERT_TRUE(veds::OpenSettings(false, true, u"VexaMediaServer", false, settings));
    ASSERT_TRUE(settings->SetString(u"FFmpegPath", path.c_str()));
  }
};

// A stand-in's banner: the source it reads (argument 4) and a duration line.
std::string Banner(const std::string& duration) {
  return "printf 'Input #0, matroska,webm, from '\\''%s'\\'':\\n' \"$4\" >&2\n"
         "printf '  Duration: " + duration + ", start: 0.000000, bitrate: 64 kb/s\\n' >&2\n";
}

// A stand-in encoder in dir that notes its process id in dir/pid, then runs body.
std::string StandIn(const std::string& dir, const std::string& body) {
  return WriteScript(dir, "encoder", "echo $$ > \"${0%/*}/pid\"\n" + body);
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
      {head + "  Duration: 00:01:23.45, s", Verdict::kDuration, 83450},  // a decimal fraction
      {head + "  Duration: 123:00:08.023999, s", Verdict::kDuration, 442808023},
      {head + "  Duration: N/A, start: 0.0\n", Verdict::kDuration, -1},
      {head + "  Duration: 00:1:23.45, start\n", Verdict::kDuration, -1},
  };
  for (const auto& c : cases) {
    int64_t ms = 0;
    EXPECT_EQ(CTranscodeJobASF::InspectBanner(c.text, false, ms), c.verdict) << c.text;
    EXPECT_EQ(ms, c.ms) << c.text;
  }
}

// Encoder and source in a folder whose name needs quoting and looks like an error report.
class AsfStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir("errors 'q' \"d\" \xC3\xBC ");
    source = dir + "/Terror \xE2\x80\x94 it's.mkv";
  }
  void Prepare(const std::string& body) {
    std::remove((dir + "/pid").c_str());
    setting.Set(StandIn(dir, body));
    ASSERT_EQ(job.Open(&listener, Wide(source).c_str(), nullptr), kJobOk);
  }
  pid_t EncoderPid() { return ReadPid(dir + "/pid"); }

  EncoderSetting setting;
  RecordingOwner owner;
  CountingListener listener;
  CTranscodeJobASF job{&owner};
  std::string dir, source;
};

// From start to end of stream: what the start answers, what is relayed, what the listener
// learns; and no encoder is left behind either way. Error words on standard error decide
// nothing: the exit status tells a whole stream from one cut short.
TEST_F(AsfStandIn, StartsAndEndsOfTheStream) {
  const std::string args = "for a in \"$@\"; do printf '[%s]' \"$a\"; done\n";
  const struct { std::string body; int32_t start; std::string stream; int64_t durationMs; int events; } cases[] = {
      {Banner("00:01:23.45") + args, kJobOk, "[-ss][01:23:45.678][-i][" + source +
       "][-vcodec][wmv2][-s][640x360][-q:v][5][-acodec][wmav2][-ac][2][-f][asf][-]", 83450, 0},
      {"sleep 0.4\nprintf 'Input #0\\n  Duration: 00:0' >&2\nsleep 0.4\n"  // in pieces
       "printf '0:07.5, start: 0.000000\\n' >&2\nsleep 0.5\nprintf 'late'\n", kJobOk, "late", 7500, 0},
      {"printf 'Input #0\\nError opening input\\n' >&2\nexit 1\n", kJobFailed, "", -1, 0},
      {"printf 'Input #0, matroska\\n  Dura' >&2\n", kJobFailed, "", -1, 0},
      {Banner("00:00:09.00") + "printf 'a'\nprintf '[h264] error while decoding MB 4 1\\n"
       "Error while decoding stream\\n' >&2\nsleep 0.2\nprintf 'b'\n", kJobOk, "ab", 9000, 0},
      {Banner("00:00:09.00") + "printf 'a'\nexec >&-\nsleep 0.3\n", kJobOk, "a", 9000, 0},
      {Banner("00:00:09.00") + "printf 'a'\nexit 3\n", kJobOk, "a", 9000, 1},
      {Banner("00:00:09.00") + "printf 'a'\nkill -9 $$\n", kJobOk, "a", 9000, 1},
      // far more standard error than a pipe holds, while the host reads
      {Banner("00:00:09.00") + "i=0\nwhile [ $i -lt 400 ]; do\n  printf '%01024d' 0\n  i=$((i+1))\n"
       "  printf 'frame=%5d fps=25 q=5.0 size=1024kB time=00:00:01.00 %400s\\r' $i x >&2\ndone\n",
       kJobOk, std::string(400 * 1024, '0'), 9000, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    listener.events = 0;
    Prepare(c.body);
    EXPECT_EQ(job.GetDuration(), -1);
    EXPECT_EQ(job.Start(5025678, -1), c.start);
    EXPECT_EQ(job.GetTranscodedDuration(), c.durationMs);
    EXPECT_EQ(ReadJobStream(job), c.stream);
    ExpectNoneLeft(EncoderPid());  // ended: reaped without waiting for Stop
    uint8_t byte;
    uint32_t count = 0;
    EXPECT_FALSE(job.Read(&byte, 1, &count));
    EXPECT_EQ(listener.events, c.events);
  }
}

// Stop or restart on one thread while another waits inside Read, and Stop while a start
// waits for the banner: everybody returns promptly and no encoder is left.
TEST_F(AsfStandIn, StopOrRestartWhileAnotherThreadReadsOrStarts) {
  Prepare(Banner("00:00:09.00") + "while :; do printf 'x'; sleep 0.05; done\n");
  for (int round = 0; round < 6; ++round) {
    ASSERT_EQ(job.Start(0, -1), kJobOk);
    pid_t pid = EncoderPid();
    std::thread reader([&] { ReadJobStream(job); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + 15 * round));
    std::remove((dir + "/pid").c_str());
    auto before = Clock::now();
    EXPECT_TRUE(round % 2 == 0 || job.Seek(1000));  // a restart ends the old run's reader
    job.Stop();
    reader.join();
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(3));
    ExpectNoneLeft(pid);
  }
  EXPECT_EQ(listener.events, 0);  // a stream the host stopped did not fail
  Prepare("exec sleep 30\n");
  std::atomic<int32_t> started{0};
  std::thread starter([&] { started = job.Start(0, -1); });
  pid_t pid = EncoderPid();
  job.Stop();
  starter.join();
  EXPECT_EQ(started, kJobFailed);
  ExpectNoneLeft(pid);
}

TEST_F(AsfStandIn, MissingEncoderIsAskedForAndLookedForAgain) {
  EXPECT_EQ(job.Open(nullptr, Wide(source).c_str(), nullptr), kJobUnsupportedType);
  setting.Set(dir);  // a folder is no encoder
  EXPECT_FALSE(job.IsAvailable());
  EXPECT_TRUE(owner.requests.empty());  // availability never asks the owner
  owner.answer = 1;              // the owner cannot help
  EXPECT_EQ(job.Start(0, -1), kJobFailed);
  owner.answer = 2;  // the owner answers "look again", but nothing is there
  EXPECT_FALSE(job.Seek(0));
  EXPECT_EQ(owner.requests, std::vector<int32_t>(2, CTranscodeJobASF::kRequestEncoderMissing));

  std::string encoder = StandIn(dir, Banner("00:00:03.00") + "printf 'found'\n");
  owner.onRequest = [&] { setting.Set(encoder); };
  ASSERT_EQ(job.Start(0, -1), kJobOk);
  EXPECT_EQ(ReadJobStream(job), "found");
  ASSERT_EQ(job.Start(0, -1), kJobOk);
  EXPECT_EQ(owner.requests.size(), 3u);  // found at once now
}

constexpr char kEncoder[] = "/usr/bin/ffmpeg";

std::string Shell(const std::string& command) {
  CommandResult result = RunShell(command);
  EXPECT_EQ(result.exitCode, 0) << command << "\n" << result.output;
  return result.output;
}

// Plain-named files only: the fixtures' own names need no quoting in these commands.
std::string Probe(const std::string& file, const std::string& entries) {
  return Shell("ffprobe -v error -show_entries " + entries + " -of default=nw=1 " + file);
}

// From the first packet's start to the last packet's end, in seconds.
double StreamSeconds(const std::string& file) {
  std::istringstream lines(Probe(file, "packet=pts_time,duration_time"));
  double first = 1e18, last = -1e18, pts = 0, duration = 0;
  for (std::string line; std::getline(lines, line);) {
    if (std::sscanf(line.c_str(), "pts_time=%lf", &pts) == 1) first = std::min(first, pts);
    if (std::sscanf(line.c_str(), "duration_time=%lf", &duration) == 1) last = std::max(last, pts + duration);
  }
  return last - first;
}

// Matroska sources with H.264 and AAC, named with quotes, non-ASCII and error-like words.
class AsfWithFFmpeg : public ::testing::Test {
 protected:
  void SetUp() override {
    // As a user configures it.
    Shell(std::string(VEXA_SETTINGS_TOOL) + " set-string Settings/VexaMediaServer FFmpegPath " + kEncoder);
    plain = MakeTempDir("asf");
    dir = MakeTempDir("ffmpeg \"q\" it's \xC3\xA9 ");
  }
  // A source of the given length whose name needs quoting and whose title reads like an error
  // report; also reachable as plain/source.mkv.
  std::string MakeSource(const char* video, int seconds) {
    std::string made = plain + "/source.mkv", named = dir + "/Terror \xE2\x80\x94 \"errors\".mkv";
    std::remove(made.c_str());
    Shell("ffmpeg -v error -f lavfi -i testsrc=" + std::string(video) + ":duration=" +
          std::to_string(seconds) + " -f lavfi -i sine=duration=" + std::to_string(seconds) +
          " -metadata title='Error: Terror Train' -c:v libx264 -preset ultrafast -c:a aac " + made);
    std::rename(made.c_str(), named.c_str());
    ::symlink(named.c_str(), made.c_str());
    sourceSeconds = std::stod(Probe(made, "format=duration").substr(9));
    return named;
  }
  EncoderSetting setting;
  CountingListener listener;
  std::string plain, dir;
  double sourceSeconds = 0;
};

// Through the plug-in's transcoder (index 0 is the ASF kind): from the start, and moved by a
// seek to sixty seconds in before anything is read; streamed into plain/out.asf and judged by
// ffprobe.
TEST_F(AsfWithFFmpeg, StreamsMatchTheirSources) {
  const struct { const char* video; int seconds; int64_t seekMs; } cases[] = {
      {"size=160x90:rate=10", 8, 0}, {"size=64x36:rate=4", 70, 60000}};
  auto* transcoder = new CTranscoderImpl;
  transcoder->Initialise();
  for (const auto& c : cases) {
    std::string source = MakeSource(c.video, c.seconds);
    NS::ITranscoderJob* job = nullptr;
    ASSERT_EQ(transcoder->CreateJob(Wide(source).c_str(), nullptr, 0, &listener, &job), 0);
    ASSERT_EQ(job->Start(0, -1), kJobOk);
    ASSERT_TRUE(c.seekMs == 0 || job->Seek(c.seekMs));
    std::string out = plain + "/out.asf";
    std::ofstream(out, std::ios::binary) << ReadJobStream(*job);
    std::string streams = Probe(out, "format=format_name:stream=codec_name,width,height,channels");
    EXPECT_EQ(streams, "codec_name=wmv2\nwidth=640\nheight=360\ncodec_name=wmav2\nchannels=2\nformat_name=asf\n");
    EXPECT_EQ(FfmpegDecodeErrors(out), "");
    EXPECT_NEAR(StreamSeconds(out), sourceSeconds - c.seekMs / 1000.0, 0.15);
    EXPECT_NEAR(job->GetDuration(), sourceSeconds * 1000, 10);  // the banner's, to 10 ms
    EXPECT_EQ(listener.events, 0);
    job->Release();
  }
  EXPECT_EQ(transcoder->TranscoderFace()->Release(), 0);
}

}  // namespace
