// vexa-mkvdump on a SubRip file: a line per cue with its times and text, and --write-blocks
// leaves each cue's bytes in a file of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>

#include "tests/framework/srt/SrtFiles.h"

namespace {

TEST(SrtDump, PrintsCuesAndWritesTheirBlocks) {
  ProcessTestTools::TempDir dir("srtdump");
  std::filesystem::create_directory(dir.path() / "blocks");
  srttest::WriteSrt(dir, "cues.srt", "1\n00:00:01,500 --> 00:00:03,000\nA\\b\nc\n\n2\n00:00:04,000 --> 00:00:05,000\nD\n");
  const auto bytes = [&](const std::string& name) {
    std::ifstream in(dir.path() / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const int status = std::system(("cd '" + dir.path().string() + "' && VEXA_L1LOG_DIR=. '" VEXA_MKVDUMP
                                  "' cues.srt --write-blocks blocks >out.txt 2>&1").c_str());
  const std::string output = bytes("out.txt");
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("cue time=15000000 duration=15000000 text=A\\\\b\\nc\n"
                        "cue time=40000000 duration=10000000 text=D\n"),
            std::string::npos)
      << output;
  EXPECT_EQ(bytes("blocks/subtitle-0-0.bin") + "|" + bytes("blocks/subtitle-0-1.bin"), "A\\b\nc|D");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "blocks/subtitle-0-2.bin"));
}

}  // namespace
