// vexa-mkvdump on a SubRip file: a line per cue with its times and text, and --write-blocks
// leaves each cue's bytes in a file of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/framework/srt/SrtFiles.h"

namespace {

TEST(SrtDump, PrintsCuesAndWritesTheirBlocks) {
  ProcessTestTools::TempDir dir("srtdump");
  std::filesystem::create_directory(dir.path() / "blocks");
  srttest::WriteSrt(dir, "cues.srt", srttest::Encode("1\n00:00:01,500 --> 00:00:03,000\nA\\b\nc\n\n2\n"
                                                     "00:00:04,000 --> 00:00:05,000\nD\n", srttest::Bom::kUtf16Le));
  const std::string cmd = "cd '" + dir.path().string() + "' && VEXA_L1LOG_DIR=. '" VEXA_MKVDUMP
                          "' cues.srt --write-blocks blocks 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string output;
  char chunk[256];
  while (std::fgets(chunk, sizeof chunk, p) != nullptr) output += chunk;
  EXPECT_EQ(pclose(p), 0) << output;
  EXPECT_NE(output.find("cue time=15000000 duration=15000000 text=A\\\\b\\nc\n"
                        "cue time=40000000 duration=10000000 text=D\n"),
            std::string::npos)
      << output;
  EXPECT_EQ(srttest::ReadBytes(dir.path() / "blocks/subtitle-0-0.bin"), "A\\b\nc");
  EXPECT_EQ(srttest::ReadBytes(dir.path() / "blocks/subtitle-0-1.bin"), "D");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "blocks/subtitle-0-2.bin"));
}

}  // namespace
