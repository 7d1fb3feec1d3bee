// The ASF job against stand-in encoders: small scripts that behave as the real one does, or
// misbehave.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/jobs/asf/AsfTestTools.h"

namespace {

using namespace AsfTestTools;
using namespace ProcessTestTools;
using Clock = std::chrono::steady_clock;

// A stand-in encoder in a folder whose name needs quoting everywhere, serving a source there.
class AsfStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir("stand-in 'q' \"d\" \xC3\xBC ");
    source = dir + "/film \xE2\x80\x94 it's.mkv";
  }
  // Writes the stand-in, points the setting at it and opens the job on the source.
  void Prepare(const std::string& body) {
    setting.Set(StandIn(dir, body));
    ASSERT_EQ(job.Open(nullptr, Wide(source).c_str(), nullptr), kJobOk);
  }
  pid_t EncoderPid() { return ReadPid(dir + "/pid"); }

  EncoderSetting setting;
  FakeOwner owner;
  CTranscodeJobASF job{&owner};
  std::string dir, source;
};

TEST_F(AsfStandIn, RelaysStandardOutputAndTakesTheDurationFromTheBanner) {
  Prepare(Banner("00:01:23.45") + "for a in \"$@\"; do printf '[%s]' \"$a\"; done\n");
  EXPECT_EQ(job.GetDuration(), -1);
  ASSERT_EQ(job.Start(5025678, -1), kJobOk);
  EXPECT_EQ(job.GetDuration(), 83450);
  EXPECT_EQ(job.GetTranscodedDuration(), 83450);
  EXPECT_EQ(ReadStream(job), "[-ss][01:23:45.678][-i][" + source +
                                 "][-vcodec][wmv2][-s][640x360][-q:v][5][-acodec][wmav2][-ac][2]"
                                 "[-f][asf][-]");
  uint32_t count = 7;
  uint8_t byte;
  EXPECT_FALSE(job.Read(&byte, 1, &count));  // the encoder has ended
  EXPECT_EQ(count, 0u);
  ExpectNoneLeft(EncoderPid());
  EXPECT_EQ(owner.requests, 0);
}

TEST_F(AsfStandIn, SourceNamedLikeAnErrorStreams) {
  dir = MakeTempDir("errors");
  source = dir + "/Terror.mkv";
  Prepare(Banner("00:00:02.00") + "printf 'payload'\n");
  ASSERT_EQ(job.Start(0, -1), kJobOk);
  EXPECT_EQ(ReadStream(job), "payload");
}

TEST_F(AsfStandIn, BannersThatEndTheStartLeaveNoEncoder) {
  struct Case {
    const char* what;
    std::string body;
  } cases[] = {
      {"error in the banner", "printf 'Input #0\\nError opening input\\n' >&2\nexec sleep 30\n"},
      {"banner cut before its duration", "printf 'Input #0, matroska\\n  Dura' >&2\n"},
      {"exits at once", "exit 1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove((dir + "/pid").c_str());
    Prepare(c.body);
    EXPECT_EQ(job.Start(0, -1), kJobFailed);
    ExpectNoneLeft(EncoderPid());
    uint8_t byte;
    uint32_t count = 0;
    EXPECT_FALSE(job.Read(&byte, 1, &count));
  }
}

TEST_F(AsfStandIn, BannerInPiecesAndSilenceAreWaitedFor) {
  Prepare("sleep 0.4\nprintf 'Input #0\\n  Duration: 00:0' >&2\nsleep 0.4\n"
          "printf '0:07.5, start: 0.000000\\n' >&2\nsleep 0.5\nprintf 'late'\n");
  auto before = Clock::now();
  ASSERT_EQ(job.Start(0, -1), kJobOk);
  EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(700));
  EXPECT_EQ(job.GetDuration(), 7500);
  EXPECT_EQ(ReadStream(job), "late");
}

TEST_F(AsfStandIn, ErrorReportedWhileStreamingEndsTheStream) {
  Prepare(Banner("00:00:09.00") +
          "printf 'first'\nsleep 0.2\nprintf 'frame=10 fps=5\\r[wmv2] enc err' >&2\n"
          "printf 'or\\n' >&2\nexec sleep 30\n");
  ASSERT_EQ(job.Start(0, -1), kJobOk);
  auto before = Clock::now();
  EXPECT_EQ(ReadStream(job), "first");
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(5));
}

// The host reads while the encoder fills standard error far beyond what a pipe holds.
TEST_F(AsfStandIn, FloodOfStandardErrorDoesNotStallTheStream) {
  Prepare(Banner("00:00:09.00") +
          "i=0\nwhile [ $i -lt 400 ]; do\n"
          "  printf 'frame=%5d fps=25 q=5.0 size=  1024kB time=00:00:01.00 bitrate= 64kbits/s "
          "speed=1x                                              \\r' $i >&2\n"
          "  printf 'frame=%5d fps=25 q=5.0 size=  1024kB time=00:00:01.00 bitrate= 64kbits/s "
          "speed=1x                                              \\r' $i >&2\n"
          "  printf '%1024d' $i\n"
          "  i=$((i+1))\ndone\n");
  ASSERT_EQ(job.Start(0, -1), kJobOk);
  std::string stream = ReadStream(job);
  EXPECT_EQ(stream.size(), 400u * 1024u);
  ExpectNoneLeft(EncoderPid());
}

TEST_F(AsfStandIn, SeekRestartsTheEncoderAtThePosition) {
  Prepare(Banner("00:02:00.00") + "printf '%s' \"$2\"\nexec sleep 30\n");
  ASSERT_EQ(job.Start(0, -1), kJobOk);
  pid_t first = EncoderPid();
  uint8_t buffer[64];
  uint32_t count = 0;
  ASSERT_TRUE(job.Read(buffer, sizeof buffer, &count));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), count), "00:00:00.000");
  std::remove((dir + "/pid").c_str());
  ASSERT_TRUE(job.Seek(60000));
  ExpectNoneLeft(first);
  ASSERT_TRUE(job.Read(buffer, sizeof buffer, &count));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), count), "00:01:00.000");
  EXPECT_EQ(job.GetDuration(), 120000);
  pid_t second = EncoderPid();
  EXPECT_EQ(job.TogglePause(), 0);
  EXPECT_EQ(job.Stop(), 0);
  ExpectNoneLeft(second);
}

TEST_F(AsfStandIn, DestroyingTheJobEndsItsEncoder) {
  Prepare(Banner("00:00:09.00") + "exec sleep 30\n");
  auto doomed = std::make_unique<CTranscodeJobASF>(&owner);
  ASSERT_EQ(doomed->Open(nullptr, Wide(source).c_str(), nullptr), kJobOk);
  ASSERT_EQ(doomed->Start(0, -1), kJobOk);
  pid_t pid = EncoderPid();
  doomed.reset();
  ExpectNoneLeft(pid);
}

// The host stops or restarts the job while its reading thread waits inside Read: the reader
// returns promptly, nobody hangs, and no encoder is left.
TEST_F(AsfStandIn, StopOrRestartWhileAnotherThreadReads) {
  Prepare(Banner("00:00:09.00") + "while :; do printf 'x'; sleep 0.05; done\n");
  for (int round = 0; round < 6; ++round) {
    ASSERT_EQ(job.Start(0, -1), kJobOk);
    pid_t pid = EncoderPid();
    std::atomic<bool> readerDone{false};
    std::thread reader([&] {
      ReadStream(job);
      readerDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + 15 * round));
    std::remove((dir + "/pid").c_str());
    auto before = Clock::now();
    if (round % 2) {
      EXPECT_TRUE(job.Seek(1000));  // the old run's reader ends; the new run goes on
      job.Stop();
    } else {
      EXPECT_EQ(job.Stop(), 0);
    }
    reader.join();
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(3));
    EXPECT_TRUE(readerDone);
    ExpectNoneLeft(pid);
  }
}

// A stop from another thread while the start still waits for the banner ends that start.
TEST_F(AsfStandIn, StopDuringTheBannerEndsTheStart) {
  Prepare("exec sleep 30\n");
  std::atomic<int32_t> started{-1};
  std::thread starter([&] { started = job.Start(0, -1); });
  pid_t pid = EncoderPid();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  job.Stop();
  starter.join();
  EXPECT_EQ(started, kJobFailed);
  ExpectNoneLeft(pid);
}

TEST_F(AsfStandIn, MissingEncoderIsAskedForOnceAndLookedForAgain) {
  std::string encoder = StandIn(dir, Banner("00:00:03.00") + "printf 'found'\n");
  ASSERT_EQ(job.Open(nullptr, Wide(source).c_str(), nullptr), kJobUnsupportedType);
  EXPECT_FALSE(job.IsAvailable());
  EXPECT_EQ(owner.requests, 0);  // availability never asks the owner

  owner.answer = 1;  // the owner cannot help
  EXPECT_EQ(job.Start(0, -1), kJobFailed);
  EXPECT_EQ(owner.requests, 1);
  EXPECT_EQ(owner.lastCode, 2);

  owner.answer = 2;  // the owner stores a setting but has not found anything
  EXPECT_FALSE(job.Seek(0));
  EXPECT_EQ(owner.requests, 2);

  owner.onRequest = [&] { setting.Set(encoder); };
  ASSERT_EQ(job.Start(0, -1), kJobOk);
  EXPECT_EQ(owner.requests, 3);
  EXPECT_EQ(ReadStream(job), "found");
  ASSERT_EQ(job.Start(0, -1), kJobOk);
  EXPECT_EQ(owner.requests, 3);  // found at once now
  EXPECT_TRUE(job.IsAvailable());
}

TEST_F(AsfStandIn, AcceptsMatroskaOnlyWhenTheEncoderIsThere) {
  EXPECT_EQ(job.CheckSource(u"/m/a.mkv", nullptr), kJobUnsupportedType);
  setting.Set(dir);  // a folder is no encoder
  EXPECT_EQ(job.CheckSource(u"/m/a.mkv", nullptr), kJobUnsupportedType);
  setting.Set(StandIn(dir, "exit 0\n"));
  EXPECT_EQ(job.CheckSource(u"/m/a.mkv", nullptr), kJobOk);
  EXPECT_EQ(job.CheckSource(u"/m/a.avi", nullptr), kJobUnusableSource);
  EXPECT_EQ(job.CheckSource(u"/m/a.avi", "VIDEO/X-MKV"), kJobOk);
  EXPECT_EQ(job.CheckSource(nullptr, nullptr), kJobMissingArgument);
  EXPECT_EQ(job.Open(nullptr, nullptr, nullptr), kJobFailed);
  EXPECT_STREQ(job.GetMimeType(), "video/x-ms-asf");
  EXPECT_STREQ(job.GetDlnaProfile(), "DLNA.ORG_PN=WMVMED_PRO");
  std::unique_ptr<NS::ITranscoderJob> made(job.MakeJob(&owner));
  ASSERT_NE(made, nullptr);
  EXPECT_STREQ(made->GetMimeType(), "video/x-ms-asf");
  EXPECT_EQ(made->GetSourcePath(), nullptr);
}

}  // namespace
