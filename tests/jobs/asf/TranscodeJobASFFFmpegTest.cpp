// The ASF road with the real encoder (Debian's FFmpeg) on Matroska files made at test time,
// and what clients are offered with and without it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "plugin/TranscoderImpl.h"
#include "tests/jobs/asf/AsfTestTools.h"
#include "tests/plugin/FakeJob.h"

namespace {

using namespace AsfTestTools;
using namespace ProcessTestTools;

constexpr char kEncoder[] = "/usr/bin/ffmpeg";

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    if (::pclose(pipe) != 0) ADD_FAILURE() << "failed: " << command << "\n" << out;
  }
  return out;
}

// ffprobe's key=value answers about a file named by a plain path.
std::multimap<std::string, std::string> Probe(const std::string& file, const std::string& entries) {
  std::istringstream lines(Shell("ffprobe -v error -show_entries " + entries +
                               " -of default=nw=1 '" + file + "'"));
  std::multimap<std::string, std::string> values;
  for (std::string line; std::getline(lines, line);) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) values.emplace(line.substr(0, eq), line.substr(eq + 1));
  }
  return values;
}

// From the first packet's start to the last packet's end, in seconds.
double StreamLength(const std::string& file) {
  std::istringstream lines(Shell("ffprobe -v error -show_entries packet=pts_time,duration_time "
                               "-of csv=p=0 '" + file + "'"));
  double first = 1e18, last = -1e18;
  for (std::string line; std::getline(lines, line);) {
    double pts = 0, duration = 0;
    if (std::sscanf(line.c_str(), "%lf,%lf", &pts, &duration) < 1) continue;
    first = std::min(first, pts);
    last = std::max(last, pts + duration);
  }
  return last - first;
}

// Matroska sources, H.264 and AAC, made once: names that need quoting everywhere.
class AsfWithFFmpeg : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new std::string(MakeTempDir("ffmpeg \"q\" it's \xC3\xA9 "));
    std::string plain = MakeTempDir("fixtures");
    Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=160x90:rate=10:duration=8 -f lavfi "
        "-i sine=frequency=440:duration=8 -ac 2 -c:v libx264 -preset ultrafast -c:a aac '" +
        plain + "/short.mkv'");
    Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=64x36:rate=4:duration=70 -f lavfi "
        "-i sine=frequency=220:duration=70 -c:v libx264 -preset ultrafast -c:a aac -b:a 32k '" +
        plain + "/long.mkv'");
    shortSource = new std::string(*dir + "/Terror \xE2\x80\x94 \"short\".mkv");
    longSource = new std::string(*dir + "/errors 'long' \xE2\x98\x85.mkv");
    std::rename((plain + "/short.mkv").c_str(), shortSource->c_str());
    std::rename((plain + "/long.mkv").c_str(), longSource->c_str());
  }
  static void TearDownTestSuite() {
    delete dir;
    delete shortSource;
    delete longSource;
  }

  // Streams the source from startMs through a job of the plug-in's ASF kind; the stream goes
  // into a plain-named file for ffprobe.
  std::string Transcode(NS::ITranscoderJob& job, int64_t startMs) {
    EXPECT_EQ(job.Start(startMs, -1), kJobOk);
    std::string out = MakeTempDir("out") + "/out.asf";
    std::ofstream(out, std::ios::binary) << ReadStream(job);
    return out;
  }
  // The source's duration in seconds as the container gives it.
  static double SourceSeconds(const std::string& source) {
    std::string link = MakeTempDir("link") + "/source.mkv";
    EXPECT_EQ(::symlink(source.c_str(), link.c_str()), 0);
    return std::stod(Probe(link, "format=duration").find("duration")->second);
  }
  static void ExpectAsfWmv2Wma2(const std::string& file) {
    auto values = Probe(file, "format=format_name:stream=codec_name,width,height,channels");
    auto has = [&](const char* key, const char* value) {
      auto range = values.equal_range(key);
      return std::any_of(range.first, range.second, [&](auto& kv) { return kv.second == value; });
    };
    EXPECT_TRUE(has("format_name", "asf"));
    EXPECT_TRUE(has("codec_name", "wmv2"));
    EXPECT_TRUE(has("width", "640"));
    EXPECT_TRUE(has("height", "360"));
    EXPECT_TRUE(has("codec_name", "wmav2"));
    EXPECT_TRUE(has("channels", "2"));
    // Decodes from end to end without a complaint.
    EXPECT_EQ(Shell("ffmpeg -v error -i '" + file + "' -f null - 2>&1"), "");
  }

  static std::string* dir;
  static std::string* shortSource;
  static std::string* longSource;
  EncoderSetting setting;
};
std::string* AsfWithFFmpeg::dir;
std::string* AsfWithFFmpeg::shortSource;
std::string* AsfWithFFmpeg::longSource;

// Through the plug-in's transcoder: index 0 is the ASF kind.
TEST_F(AsfWithFFmpeg, StreamFromTheStartMatchesTheSource) {
  setting.Set(kEncoder);
  auto* transcoder = new CTranscoderImpl;
  transcoder->Initialise();
  NS::ITranscoderJob* job = nullptr;
  ASSERT_EQ(transcoder->CreateJob(Wide(*shortSource).c_str(), nullptr, 0, nullptr, &job), 0);
  ASSERT_STREQ(job->GetMimeType(), "video/x-ms-asf");
  std::string out = Transcode(*job, 0);
  double source = SourceSeconds(*shortSource);
  EXPECT_NEAR(job->GetDuration(), source * 1000, 10);
  ExpectAsfWmv2Wma2(out);
  EXPECT_NEAR(StreamLength(out), source, 0.15);
  EXPECT_EQ(job->Release(), 0);
  EXPECT_EQ(transcoder->TranscoderFace()->Release(), 0);
}

TEST_F(AsfWithFFmpeg, StreamFromSixtySecondsIsShorterByTheStart) {
  setting.Set(kEncoder);
  FakeOwner owner;
  CTranscodeJobASF job(&owner);
  ASSERT_EQ(job.Open(nullptr, Wide(*longSource).c_str(), "video/x-mkv"), kJobOk);
  std::string out = Transcode(job, 60000);
  double source = SourceSeconds(*longSource);
  EXPECT_NEAR(job.GetDuration(), source * 1000, 10);
  ExpectAsfWmv2Wma2(out);
  EXPECT_NEAR(StreamLength(out), source - 60, 0.3);
}

// The encoder itself reports the failure: the source is gone.
TEST_F(AsfWithFFmpeg, MissingSourceFailsTheStart) {
  setting.Set(kEncoder);
  FakeOwner owner;
  CTranscodeJobASF job(&owner);
  ASSERT_EQ(job.Open(nullptr, Wide(*dir + "/gone.mkv").c_str(), nullptr), kJobOk);
  EXPECT_EQ(job.Start(0, -1), kJobFailed);
}

// The ASF kind at index 0 next to a transport-stream kind at index 1.
class AsfOfferTranscoder : public CTranscoderImpl {
 public:
  explicit AsfOfferTranscoder(FakeJobStats* stats) : m_stats(stats) {}
  void CreateJobPrototypes() override {
    AddPrototype(new CTranscodeJobASF(this));
    AddPrototype(new FakeJob(this, false, m_stats));
  }

 private:
  FakeJobStats* m_stats;
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
  FakeJobStats stats;
  stats.duration = 3723000;
  auto* transcoder = new AsfOfferTranscoder(&stats);
  transcoder->Initialise();
  const std::string asf = "0 http-get:*:video/x-ms-asf:DLNA.ORG_PN=WMVMED_PRO 0:00:00.0";
  const std::string ts =
      "1 http-get:*:video/MP2T:MPEG_PS_NTSC;DLNA.ORG_OP=10;DLNA.ORG_CI=1;"
      "DLNA.ORG_FLAGS=01500000000000000000000000000000 1:02:03.0";
  using List = std::vector<std::string>;

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
