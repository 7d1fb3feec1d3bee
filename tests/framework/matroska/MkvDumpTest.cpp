// vexa-mkvdump: a seek prints the time reached, a file it cannot read ends it with the
// framework's error name, and on a SubRip file it prints a line per cue with its times and text
// while --write-blocks leaves each cue's bytes in a file of its own.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/framework/matroska/MkvCorpus.h"
#include "tests/support/ProcessTestTools.h"

using namespace mkvtest;

namespace {

class MkvDump : public ::testing::Test {
 protected:
  std::string Contents(const std::string& name) { return ProcessTestTools::ReadText(dir_.path() / name); }
  // Runs the tool in the test's folder; answers its exit status and what it printed.
  std::pair<int, std::string> Dump(const std::string& args) {
    const int status = std::system(("cd '" + dir_.path().string() + "' && VEXA_L1LOG_DIR=. '" VEXA_MKVDUMP "' " + args +
                                    " >out.txt 2>&1").c_str());
    return {status, Contents("out.txt")};
  }
  ProcessTestTools::TempDir dir_{"mkvdump"};
};

}  // namespace

TEST_F(MkvDump, SeekPrintsTheTimeReachedAndFailuresTheErrorName) {
  ASSERT_TRUE(BuildCorpus());
  const auto [status, output] = Dump("'" + CorpusDir() + "/nocues.mkv' --seek 1500");
  ASSERT_EQ(status, 0);
  const size_t seek = output.find("seek target=15000000 reached=");
  ASSERT_NE(seek, std::string::npos) << output;
  EXPECT_GE(std::atoll(output.c_str() + seek + 29), 0);
  const auto bad = Dump("missing.mkv");
  EXPECT_NE(bad.first, 0);
  EXPECT_TRUE(bad.second.ends_with("VMF_ERR_FILE_OPEN_FAILURE: Failed to open file.\n")) << bad.second;
}

TEST_F(MkvDump, PrintsSubRipCuesAndWritesTheirBlocks) {
  std::filesystem::create_directory(dir_.path() / "blocks");
  std::ofstream(dir_.path() / "cues.srt") << "1\n00:00:01,500 --> 00:00:03,000\nA\\b\nc\n\n2\n00:00:04,000 --> 00:00:05,000\nD\n";
  const auto [status, output] = Dump("cues.srt --write-blocks blocks");
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("cue time=15000000 duration=15000000 text=A\\\\b\\nc\n"
                        "cue time=40000000 duration=10000000 text=D\n"),
            std::string::npos)
      << output;
  EXPECT_EQ(Contents("blocks/subtitle-0-0.bin") + "|" + Contents("blocks/subtitle-0-1.bin"), "A\\b\nc|D");
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "blocks/subtitle-0-2.bin"));
}
