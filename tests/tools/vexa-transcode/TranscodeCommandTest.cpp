// vexa-transcode from a shell: offers, refusals and their exit codes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

struct CommandResult {
  int exitCode;
  std::string output;  // standard output, and standard error unless redirected elsewhere
};

CommandResult RunCommand(const std::string& command, const std::string& errors = "2>&1") {
  CommandResult result{-1, ""};
  FILE* pipe = popen((command + " " + errors).c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

class TranscodeCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new fs::path(fs::path(VEXA_BINARY_DIR) / "tools-transcode-fixtures");
    fs::create_directories(*dir);
    setenv("VEXA_L1LOG_DIR", dir->c_str(), 1);
    setenv("VEXA_SETTINGS_USER_ROOT", (*dir / "user").c_str(), 1);
    setenv("VEXA_SETTINGS_MACHINE_ROOT", (*dir / "machine").c_str(), 1);
    std::string make = "ffmpeg -v error -y -f lavfi -i testsrc2=size=160x90:rate=25 -f lavfi "
                       "-i sine=sample_rate=48000 -t 2 -c:v ";
    RunCommand(make + "libx264 -c:a aac -shortest '" + (*dir / "h264.mkv").string() + "'");
    RunCommand(make + "mpeg4 -c:a aac -shortest '" + (*dir / "mpeg4.mkv").string() + "'");
    std::ofstream(*dir / "text.mkv") << "not a Matroska file";
    std::ofstream(*dir / "broken.mkv") << "\x1a\x45\xdf\xa3" << std::string(4000, '\x7f');
    fs::copy_file(*dir / "h264.mkv", *dir / "h264.avi", fs::copy_options::overwrite_existing);
  }
  static std::string Tool() { return std::string("'") + VEXA_TRANSCODE + "'"; }
  static std::string File(const char* name) { return "'" + (*dir / name).string() + "'"; }
  static fs::path* dir;
};
fs::path* TranscodeCommandTest::dir = nullptr;

TEST_F(TranscodeCommandTest, ListsTheOffersForAClient) {
  CommandResult ps3 = RunCommand(Tool() + " --offers " + File("h264.mkv"));
  EXPECT_EQ(ps3.exitCode, 0) << ps3.output;
  EXPECT_EQ(ps3.output,
            "1\thttp-get:*:video/MP2T:MPEG_PS_NTSC;DLNA.ORG_OP=10;DLNA.ORG_CI=1;"
            "DLNA.ORG_FLAGS=01500000000000000000000000000000\t0:00:02.0\n");
}

TEST_F(TranscodeCommandTest, EveryRefusalIsOneLineWithItsReason) {
  struct Case {
    std::string arguments;
    std::string reason;
  } cases[] = {
      {"--user-agent Mozilla/5.0 " + File("h264.mkv"), "no offer for this client"},
      {File("h264.avi"), "not Matroska"},
      {File("text.mkv"), "not Matroska"},
      {File("missing.mkv"), "cannot read"},
      {File("mpeg4.mkv"), "no H.264 video it can read"},
      {File("broken.mkv"), "no H.264 video it can read"},
      {"--index 0 " + File("h264.mkv"), "no offer with index 0"},
  };
  for (const Case& c : cases) {
    CommandResult result = RunCommand(Tool() + " --output /dev/null " + c.arguments);
    EXPECT_EQ(result.exitCode, 2) << c.arguments;
    EXPECT_NE(result.output.find(c.reason), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find('\n'), result.output.size() - 1) << result.output;
  }
  EXPECT_EQ(RunCommand(Tool() + " --bogus").exitCode, 1);
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
      {"noisy", 0, 4 * 188, "TranscoderJob:Notify#  10"},
      {"fail", 3, 0, "the stream ended early"},
      {"empty", 3, 0, "the stream ended without any data"},
  };
  std::string errors = (*dir / "stderr.txt").string();
  for (const Case& c : cases) {
    CommandResult result = RunCommand("VEXA_FAKE_PLUGIN_MODE=" + std::string(c.mode) + " " + Tool() +
                                          " --plugin '" VEXA_FAKE_PLUGIN "' " + File("h264.mkv"),
                                      "2>'" + errors + "'");
    std::ifstream in(errors);
    std::string error((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(result.exitCode, c.exitCode) << c.mode << ": " << error;
    EXPECT_EQ(result.output.size(), c.streamBytes) << c.mode;
    for (size_t at = 0; at < result.output.size(); at += 188) EXPECT_EQ(result.output[at], 0x47);
    EXPECT_NE(error.find(c.error), std::string::npos) << c.mode << ": " << error;
  }
}

}  // namespace
