// vexa-transcode from a shell: offers, refusals and their exit codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/MuxFixture.h"
#include "tests/support/ProcessTestTools.h"

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

TEST_F(TranscodeCommandTest, ListsTheOffersForAClient) {
  CommandResult ps3 = RunShell(Tool() + " --offers " + File("h264_aac.mkv") + " 2>&1");
  EXPECT_EQ(ps3.exitCode, 0) << ps3.output;
  EXPECT_EQ(ps3.output,
            "1\thttp-get:*:video/MP2T:MPEG_PS_NTSC;DLNA.ORG_OP=10;DLNA.ORG_CI=1;"
            "DLNA.ORG_FLAGS=01500000000000000000000000000000\t0:00:03.0\n");
}

TEST_F(TranscodeCommandTest, EveryRefusalIsOneLineWithItsReason) {
  struct Case {
    std::string arguments;
    std::string reason;
  } cases[] = {
      {"--user-agent Mozilla/5.0 " + File("h264_aac.mkv"), "no offer for this client"},
      {File("h264.avi"), "not Matroska"},
      {File("text.mkv"), "not Matroska"},
      {File("missing.mkv"), "cannot read"},
      {File("mpeg4_video.mkv"), "no H.264 video it can read"},
      {File("broken.mkv"), "no H.264 video it can read"},
      {"--index 0 " + File("h264_aac.mkv"), "no offer with index 0"},
  };
  for (const Case& c : cases) {
    CommandResult result = RunShell(Tool() + " --output /dev/null " + c.arguments + " 2>&1");
    EXPECT_EQ(result.exitCode, 2) << c.arguments;
    EXPECT_NE(result.output.find(c.reason), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find('\n'), result.output.size() - 1) << result.output;
  }
  EXPECT_EQ(RunShell(Tool() + " --bogus 2>&1").exitCode, 1);
}

// Only the stream reaches standard output, whatever the plug-in prints there; a stream that ends
// early or empty is a failure, said in one line on standard error.
TEST_F(TranscodeCommandTest, StandardOutputCarriesTheStreamAloneAndEarlyEndsFail) {
  struct Case {
    const char* mode;
    int exitCode;
    size_t streamBytes;
    const char* error;
  } cases[] = {
      {"noisy", 0, 4096, "TranscoderJob:Notify#  10"},
      {"fail", 3, 0, "the stream ended early"},
      {"empty", 3, 0, "the stream ended without any data"},
  };
  std::string errors = Own("stderr.txt");
  for (const Case& c : cases) {
    CommandResult result = RunShell("VEXA_FAKE_PLUGIN_MODE=" + std::string(c.mode) + " " + Tool() +
                                    " --plugin '" VEXA_FAKE_PLUGIN "' " + File("h264_aac.mkv") +
                                    " 2>'" + errors + "'");
    std::string error = ReadFileText(errors);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.mode << ": " << error;
    EXPECT_EQ(result.output.size(), c.streamBytes) << c.mode;
    for (size_t at = 0; at < result.output.size(); at += 188) EXPECT_EQ(result.output[at], 0x47);
    EXPECT_NE(error.find(c.error), std::string::npos) << c.mode << ": " << error;
  }
}

}  // namespace
