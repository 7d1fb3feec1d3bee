// vexa-transcode from a shell: offers, refusals and their exit codes; and the host's answer to the
// plug-in's "encoder missing" request.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/settings/VexaSettings.h"
#include "tests/support/MuxFixture.h"
#include "tests/support/ProcessTestTools.h"
#include "tests/support/SettingsLayers.h"
#include "tools/hostkit/HostObjects.h"

namespace fs = std::filesystem;

namespace {

// Matroska files of the shared fixtures, and files that only look like them.
class TranscodeCommandTest : public ::testing::Test {
 protected:
  // Each test runs in a process of its own, several at once: the files made here go to a
  // folder of this process, so no test reads a file another is still writing.
  static void SetUpTestSuite() {
    UseTestEnvironment();
    own = new ProcessTestTools::TempDir("transcode-command");
    std::ofstream(Own("text.mkv")) << "not a Matroska file";
    std::ofstream(Own("broken.mkv")) << "\x1a\x45\xdf\xa3" << std::string(4000, '\x7f');
    MakeMkvFixture("mpeg4_video");
    fs::copy_file(MakeMkvFixture("h264_aac"), Own("h264.avi"));
  }
  static void TearDownTestSuite() { delete own; }
  static std::string Tool() { return std::string("'") + VEXA_TRANSCODE + "'"; }
  static std::string File(const std::string& name) {
    const std::string mine = Own(name);
    return "'" + (fs::exists(mine) ? mine : FixtureDir() + "/" + name) + "'";
  }
  static std::string Own(const std::string& name) { return (own->path() / name).string(); }
  static ProcessTestTools::TempDir* own;
};
ProcessTestTools::TempDir* TranscodeCommandTest::own = nullptr;

// The offers for a client, or a refusal with its reason: one line either way.
TEST_F(TranscodeCommandTest, ListsTheOffersOrRefusesInOneLineWithItsReason) {
  const struct { std::string arguments; int exitCode; std::string text; } cases[] = {
      {"--offers " + File("h264_aac.mkv"), 0,
       "1\thttp-get:*:video/MP2T:MPEG_PS_NTSC;DLNA.ORG_OP=10;DLNA.ORG_CI=1;"
       "DLNA.ORG_FLAGS=01500000000000000000000000000000\t0:00:03.0\n"},
      {"--output /dev/null --user-agent Mozilla/5.0 " + File("h264_aac.mkv"), 2, "no offer for this client"},
      {"--output /dev/null " + File("h264.avi"), 2, "not Matroska"},
      {"--output /dev/null " + File("text.mkv"), 2, "not Matroska"},
      {"--output /dev/null " + File("missing.mkv"), 2, "cannot read"},
      {"--output /dev/null " + File("mpeg4_video.mkv"), 2, "no H.264 video it can read"},
      {"--output /dev/null " + File("broken.mkv"), 2, "no H.264 video it can read"},
      {"--output /dev/null --index 0 " + File("h264_aac.mkv"), 2, "no offer with index 0"},
  };
  for (const auto& c : cases) {
    CommandResult result = RunShell(Tool() + " " + c.arguments + " 2>&1");
    EXPECT_EQ(result.exitCode, c.exitCode) << c.arguments;
    // An offer is the whole line; a refusal names its reason in its line.
    EXPECT_TRUE(c.exitCode == 0 ? result.output == c.text : result.output.find(c.text) != std::string::npos) << result.output;
    EXPECT_EQ(result.output.find('\n'), result.output.size() - 1) << result.output;
  }
  EXPECT_EQ(RunShell(Tool() + " --bogus 2>&1").exitCode, 1);
}

// Only the stream reaches standard output, whatever the plug-in prints there; a stream that ends
// early or empty is a failure, said in one line on standard error.
TEST_F(TranscodeCommandTest, StandardOutputCarriesTheStreamAloneAndEarlyEndsFail) {
  const struct { const char* mode; int exitCode; size_t streamBytes; const char* error; } cases[] = {
      {"noisy", 0, 4096, "TranscoderJob:Notify#  10"},
      {"fail", 3, 0, "the stream ended early"},
      {"empty", 3, 0, "the stream ended without any data"},
  };
  std::string errors = Own("stderr.txt");
  for (const auto& c : cases) {
    CommandResult result = RunShell("VEXA_FAKE_PLUGIN_MODE=" + std::string(c.mode) + " " + Tool() +
                                    " --plugin '" VEXA_FAKE_PLUGIN "' " + File("h264_aac.mkv") +
                                    " 2>'" + errors + "'");
    std::string error = ProcessTestTools::ReadText(errors);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.mode << ": " << error;
    EXPECT_EQ(result.output.size(), c.streamBytes) << c.mode;
    for (size_t at = 0; at < result.output.size(); at += 188) EXPECT_EQ(result.output[at], 0x47);
    EXPECT_NE(error.find(c.error), std::string::npos) << c.mode << ": " << error;
  }
}

// Only the encoder request is handled, and only when an executable "ffmpeg" is on the path:
// its place is stored and the plug-in is asked to look again.
TEST(HostCallback, StoresTheEncoderFoundOnThePathAndAsksForAnotherLook) {
  TestSupport::SettingsLayers settings;
  fs::path encoder = settings.root.path() / "bin" / "ffmpeg";
  fs::create_directories(encoder.parent_path());
  std::ofstream(encoder) << "#!/bin/sh\n";
  std::string savedPath = std::getenv("PATH");
  setenv("PATH", ("/nonexistent:" + encoder.parent_path().string()).c_str(), 1);
  HostCallback host;
  const struct { fs::perms perms; int32_t request, answer; std::string stored; } steps[] = {
      {fs::perms::owner_read | fs::perms::owner_write, 2, 1, ""},  // not executable: not handled
      {fs::perms::owner_all, 7, 1, ""},
      {fs::perms::owner_all, 2, 2, encoder.string()}};
  for (const auto& step : steps) {
    fs::permissions(encoder, step.perms);
    EXPECT_EQ(host.ForwardRequest(step.request), step.answer) << step.request;
    std::string stored;
    veds::ReadSettingString(u"VexaMediaServer", u"FFmpegPath", stored);
    EXPECT_EQ(stored, step.stored) << step.request;
  }
  setenv("PATH", savedPath.c_str(), 1);
}

}  // namespace

// The same source gives the same bytes, whatever size the stream is read in: the order of
// audio and video packets follows their times alone, not which thread came first.
TEST_F(TranscodeCommandTest, TheSameSourceGivesTheSameBytes) {
  const std::string source = MakeMkvFixture("hd_60s");
  std::string first;
  for (const char* size : {"16384", "1048576", "65536", "16384"}) {
    const std::string out = Own(std::string("same-") + size + ".ts");
    ASSERT_EQ(RunShell(Tool() + " --read-size " + size + " --output '" + out + "' '" + source + "'").exitCode, 0);
    const std::string bytes = ProcessTestTools::ReadText(out);
    if (first.empty()) first = bytes;
    EXPECT_TRUE(bytes == first) << "read " << size << " at a time";
  }
}

// The benchmarks' in-process driver: each mode prints its figures for a stream it really ran
// (a seek inside the 3 s clip, offers over a folder of items), and a file it cannot serve fails.
TEST_F(TranscodeCommandTest, HostbenchPrintsTheFiguresOfWhatItRan) {
  fs::create_directories(Own("items"));
  for (const char* name : {"a.mkv", "b.mkv"}) fs::copy_file(FixtureDir() + "/h264_aac.mkv", Own("items/") + name);
  const std::string bench = std::string("'") + VEXA_HOSTBENCH + "' ";
  const struct { std::string arguments; std::vector<std::string> figures; } cases[] = {
      {"start " + File("h264_aac.mkv") + " 1000 3", {"start_median", "stop_worst", "after_jobs_rss"}},
      {"seek " + File("h264_aac.mkv") + " 2000 3", {"seek_median", "seek_worst"}},
      {"offers " + Own("items"), {"offer_median", "offer_items 2", "offer_growth"}},
      {"idle " + File("h264_aac.mkv") + " 1", {"bare_host_rss", "idle_threads", "idle_switches"}},
      {"ffmpeg " + File("h264_aac.mkv") + " 1000 2", {"ffmpeg_start_median", "ffmpeg_start_worst"}},
  };
  for (const auto& c : cases) {
    CommandResult result = RunShell(bench + c.arguments);
    ASSERT_EQ(result.exitCode, 0) << c.arguments << "\n" << result.output;
    for (const std::string& figure : c.figures)
      EXPECT_NE(("\n" + result.output).find("\n" + figure + " "), std::string::npos) << c.arguments << "\n" << result.output;
  }
  EXPECT_NE(RunShell(bench + "start " + File("text.mkv") + " 0 1 2>/dev/null").exitCode, 0);
  EXPECT_EQ(RunShell(bench + "start 2>/dev/null").exitCode, 2);  // usage
}
