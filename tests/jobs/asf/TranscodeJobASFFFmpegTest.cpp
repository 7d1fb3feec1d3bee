// The ASF road with the real encoder (Debian's FFmpeg) on Matroska files made at test time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "plugin/TranscoderImpl.h"
#include "tests/jobs/asf/AsfTestTools.h"

namespace {

using namespace AsfTestTools;
using namespace ProcessTestTools;

constexpr char kEncoder[] = "/usr/bin/ffmpeg";

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  EXPECT_TRUE(pipe && ::pclose(pipe) == 0) << command << "\n" << out;
  return out;
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
  // Streams the job from startMs into plain/out.asf and checks what ffprobe says of it.
  void TranscodeAndCheck(NS::ITranscoderJob& job, int64_t startMs) {
    ASSERT_EQ(job.Start(startMs, -1), kJobOk);
    std::string out = plain + "/out.asf";
    std::ofstream(out, std::ios::binary) << ReadJobStream(job);
    std::string streams = Probe(out, "format=format_name:stream=codec_name,width,height,channels");
    EXPECT_EQ(streams, "codec_name=wmv2\nwidth=640\nheight=360\ncodec_name=wmav2\nchannels=2\nformat_name=asf\n");
    EXPECT_EQ(Shell("ffmpeg -v error -i " + out + " -f null - 2>&1"), "");  // decodes cleanly
    EXPECT_NEAR(StreamSeconds(out), sourceSeconds - startMs / 1000.0, 0.15);
    EXPECT_NEAR(job.GetDuration(), sourceSeconds * 1000, 10);  // the banner's, to 10 ms
    EXPECT_EQ(listener.events, 0);
  }

  EncoderSetting setting;
  CountingListener listener;
  std::string plain, dir;
  double sourceSeconds = 0;
};

// Through the plug-in's transcoder (index 0 is the ASF kind): from the start and from sixty
// seconds in.
TEST_F(AsfWithFFmpeg, StreamsMatchTheirSources) {
  const struct { const char* video; int seconds; int64_t startMs; } cases[] = {
      {"size=160x90:rate=10", 8, 0}, {"size=64x36:rate=4", 70, 60000}};
  auto* transcoder = new CTranscoderImpl;
  transcoder->Initialise();
  for (const auto& c : cases) {
    std::string source = MakeSource(c.video, c.seconds);
    NS::ITranscoderJob* job = nullptr;
    ASSERT_EQ(transcoder->CreateJob(Wide(source).c_str(), nullptr, 0, &listener, &job), 0);
    TranscodeAndCheck(*job, c.startMs);
    job->Release();
  }
  // A missing source: the encoder ends before its banner names a duration.
  NS::ITranscoderJob* job = nullptr;
  ASSERT_EQ(transcoder->CreateJob(Wide(dir + "/gone.mkv").c_str(), nullptr, 0, &listener, &job), 0);
  EXPECT_EQ(job->Start(0, -1), kJobFailed);
  job->Release();
  EXPECT_EQ(transcoder->TranscoderFace()->Release(), 0);
}

}  // namespace
