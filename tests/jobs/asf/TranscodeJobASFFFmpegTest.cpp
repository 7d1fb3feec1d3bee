// The ASF road with the real encoder (Debian's FFmpeg) on Matroska files made at test time,
// and what clients are offered with and without it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "plugin/TranscoderImpl.h"
#include "tests/jobs/asf/AsfTestTools.h"
#include "tests/support/FakeJob.h"

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
  // report; also reachable as plain/source.mkv. With brokenAt, the video frame at that time
  // cannot be decoded.
  std::string MakeSource(const char* video, int seconds, double brokenAt = -1) {
    std::string made = plain + "/source.mkv", named = dir + "/Terror \xE2\x80\x94 \"errors\".mkv";
    Shell("ffmpeg -v error -f lavfi -i testsrc=" + std::string(video) + ":duration=" +
          std::to_string(seconds) + " -f lavfi -i sine=duration=" + std::to_string(seconds) +
          " -metadata title='Error: Terror Train' -c:v libx264 -preset ultrafast -c:a aac " + made);
    if (brokenAt >= 0) BreakFrame(made, brokenAt);
    std::rename(made.c_str(), named.c_str());
    ::symlink(named.c_str(), made.c_str());
    sourceSeconds = std::stod(Probe(made, "format=duration").substr(9));
    return named;
  }
  // The first NAL unit of the video frame at `at` gets an impossible length. A Matroska block's
  // data starts four bytes after where ffprobe places the packet (track, time code, flags).
  void BreakFrame(const std::string& file, double at) {
    std::istringstream lines(Shell("ffprobe -v error -select_streams v -show_entries "
                                   "packet=pts_time,pos -of csv=p=0 " + file));
    double pts = 0;
    long pos = 0;
    for (std::string line; std::getline(lines, line) && pts < at;)
      ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%ld", &pts, &pos), 2) << line;
    std::fstream(file, std::ios::in | std::ios::out | std::ios::binary).seekp(pos + 4).write("\x7F\xFF\xFF\xFF", 4);
  }
  // Streams the job from startMs into plain/out.asf and checks what ffprobe says of it.
  void TranscodeAndCheck(NS::ITranscoderJob& job, int64_t startMs) {
    ASSERT_EQ(job.Start(startMs, -1), kJobOk);
    std::string out = plain + "/out.asf";
    std::ofstream(out, std::ios::binary) << ReadStream(job);
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

// Through the plug-in's transcoder, whose index 0 is the ASF kind.
TEST_F(AsfWithFFmpeg, StreamFromTheStartMatchesTheSource) {
  std::string source = MakeSource("size=160x90:rate=10", 8);
  auto* transcoder = new CTranscoderImpl;
  transcoder->Initialise();
  NS::ITranscoderJob* job = nullptr;
  ASSERT_EQ(transcoder->CreateJob(Wide(source).c_str(), nullptr, 0, &listener, &job), 0);
  EXPECT_STREQ(job->GetMimeType(), "video/x-ms-asf");
  TranscodeAndCheck(*job, 0);
  EXPECT_EQ(job->Release(), 0);
  EXPECT_EQ(transcoder->TranscoderFace()->Release(), 0);
}

TEST_F(AsfWithFFmpeg, StreamFromSixtySecondsIsShorterByTheStart) {
  std::string source = MakeSource("size=64x36:rate=4", 70);
  FakeOwner owner;
  CTranscodeJobASF job(&owner);
  ASSERT_EQ(job.Open(&listener, Wide(source).c_str(), "video/x-mkv"), kJobOk);
  TranscodeAndCheck(job, 60000);
  // A missing source: the encoder ends before its banner names a duration.
  ASSERT_EQ(job.Open(&listener, Wide(dir + "/gone.mkv").c_str(), nullptr), kJobOk);
  EXPECT_EQ(job.Start(0, -1), kJobFailed);
}

// The decoder reports the broken frame as an error and carries on; so does the stream.
TEST_F(AsfWithFFmpeg, UndecodableFrameDoesNotEndTheStream) {
  std::string source = MakeSource("size=160x90:rate=10", 5, 0.8);
  FakeOwner owner;
  CTranscodeJobASF job(&owner);
  ASSERT_EQ(job.Open(&listener, Wide(source).c_str(), nullptr), kJobOk);
  TranscodeAndCheck(job, 0);
}

// The ASF kind at index 0 next to a transport-stream kind at index 1.
class AsfOfferTranscoder : public CTranscoderImpl {
 public:
  void CreateJobPrototypes() override {
    AddPrototype(new CTranscodeJobASF(JobCallbacks()));
    AddPrototype(new FakeJob(JobCallbacks(), false, &stats));
  }
  FakeJobStats stats;
};

std::vector<std::string> Offers(CTranscoderImpl& transcoder, const char* agent) {
  static int client = 0;
  std::string id = "client-" + std::to_string(++client);
  FakeRequest request(id.c_str(), agent);
  FakeItem item(u"/media/film.mkv", nullptr);
  NS::ResourceOffer* list = nullptr;
  uint32_t count = 0;
  std::vector<std::string> offers;
  if (transcoder.OfferResources(&request, &item, &list, &count) != 0) return offers;
  for (uint32_t i = 0; i < count; ++i)
    offers.push_back(std::to_string(list[i].index) + " " + list[i].attributes[0].value + " " +
                     list[i].attributes[1].value);
  transcoder.FreeResourceList(list, count);
  return offers;
}

TEST(AsfOffers, XboxAndControlPointGetAsfOnlyWithTheEncoder) {
  EncoderSetting setting;
  auto* transcoder = new AsfOfferTranscoder;
  transcoder->stats.duration = 3723000;
  transcoder->Initialise();
  using List = std::vector<std::string>;
  const std::string asf = "0 http-get:*:video/x-ms-asf:DLNA.ORG_PN=WMVMED_PRO 0:00:00.0";
  const std::string ts = std::string("1 http-get:*:video/MP2T:") + kFakeTsProfile + " 1:02:03.0";
  setting.Set(kEncoder);
  EXPECT_EQ(Offers(*transcoder, kXboxAgent), (List{asf, ts}));
  EXPECT_EQ(Offers(*transcoder, kControlPointAgent), (List{asf, ts}));
  EXPECT_EQ(Offers(*transcoder, kPs3Agent), (List{ts}));
  setting.Set(MakeTempDir("no-encoder") + "/ffmpeg");  // configured, not present
  EXPECT_EQ(Offers(*transcoder, kXboxAgent), (List{ts}));
  EXPECT_EQ(Offers(*transcoder, kControlPointAgent), (List{ts}));
  setting.Clear();
  EXPECT_EQ(Offers(*transcoder, kXboxAgent), (List{ts}));
  EXPECT_EQ(Offers(*transcoder, kControlPointAgent), (List{ts}));
  EXPECT_EQ(transcoder->TranscoderFace()->Release(), 0);
}

}  // namespace
