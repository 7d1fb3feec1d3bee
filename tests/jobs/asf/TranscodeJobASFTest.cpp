// The ASF job: its command line and banner reading, and runs against stand-in encoders (small
// scripts that behave as the real one does, or misbehave).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/jobs/asf/AsfTestTools.h"

namespace {

using namespace AsfTestTools;
using namespace ProcessTestTools;
using Clock = std::chrono::steady_clock;
using Verdict = CTranscodeJobASF::BannerVerdict;

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
  FakeOwner owner;
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
      {"exit 1\n", kJobFailed, "", -1, 0},
      {Banner("00:00:09.00") + "printf 'a'\nprintf '[h264] error while decoding MB 4 1\\n"
       "Error while decoding stream\\n' >&2\nsleep 0.2\nprintf 'b'\n", kJobOk, "ab", 9000, 0},
      {Banner("00:00:09.00") + "printf 'a'\nexec >&-\nsleep 0.3\n", kJobOk, "a", 9000, 0},
      {Banner("00:00:09.00") + "printf 'a'\nexit 3\n", kJobOk, "a", 9000, 1},
      {Banner("00:00:09.00") + "printf 'a'\nkill -9 $$\n", kJobOk, "a", 9000, 1},
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

// Far more standard error than a pipe holds, while the host reads.
TEST_F(AsfStandIn, FloodOfStandardErrorDoesNotStallTheStream) {
  Prepare(Banner("00:00:09.00") + "i=0\nwhile [ $i -lt 400 ]; do\n"
          "  printf 'frame=%5d fps=25 q=5.0 size=1024kB time=00:00:01.00 %400s\\r' $i x >&2\n"
          "  printf '%1024d' $i\n  i=$((i+1))\ndone\n");
  ASSERT_EQ(job.Start(0, -1), kJobOk);
  EXPECT_EQ(ReadJobStream(job).size(), 400u * 1024u);
}

TEST_F(AsfStandIn, SeekRestartsTheEncoderAtThePosition) {
  Prepare(Banner("00:02:00.00") + "printf '%s' \"$2\"\nexec sleep 30\n");
  auto readSome = [this] {
    uint8_t buffer[64];
    uint32_t count = 0;
    return job.Read(buffer, sizeof buffer, &count) ? std::string(reinterpret_cast<char*>(buffer), count) : "";
  };
  ASSERT_EQ(job.Start(0, -1), kJobOk);
  pid_t first = EncoderPid();
  EXPECT_EQ(readSome(), "00:00:00.000");
  std::remove((dir + "/pid").c_str());
  ASSERT_TRUE(job.Seek(60000));
  ExpectNoneLeft(first);
  EXPECT_EQ(readSome(), "00:01:00.000");
  EXPECT_EQ(job.GetDuration(), 120000);
  pid_t second = EncoderPid();
  job.Stop();
  ExpectNoneLeft(second);
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
  EXPECT_EQ(owner.requests, 0);  // availability never asks the owner
  owner.answer = 1;              // the owner cannot help
  EXPECT_EQ(job.Start(0, -1), kJobFailed);
  owner.answer = 2;  // the owner answers "look again", but nothing is there
  EXPECT_FALSE(job.Seek(0));
  EXPECT_EQ(owner.requests, 2);

  std::string encoder = StandIn(dir, Banner("00:00:03.00") + "printf 'found'\n");
  owner.onRequest = [&] { setting.Set(encoder); };
  ASSERT_EQ(job.Start(0, -1), kJobOk);
  EXPECT_EQ(ReadJobStream(job), "found");
  ASSERT_EQ(job.Start(0, -1), kJobOk);
  EXPECT_EQ(owner.requests, 3);  // found at once now
}

}  // namespace
