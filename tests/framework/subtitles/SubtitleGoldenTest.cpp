// The rasteriser draws the cues of tests/data/subtitles/cues.txt exactly as in the golden
// pictures beside it (remade by regenerate.sh there when the drawing changes on purpose).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/framework/subtitles/SubtitleRunRows.h"

namespace vmf {
namespace {

const std::string kGoldenDir = std::string(VEXA_SOURCE_DIR) + "/tests/data/subtitles/";

struct GoldenCue {
  std::string name, text;
  int32_t frameWidth = 0, frameHeight = 0;
};

std::vector<GoldenCue> ReadCues() {
  std::vector<GoldenCue> cues;
  std::ifstream in(kGoldenDir + "cues.txt");
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    GoldenCue c;
    std::istringstream fields(line);
    std::string frame;
    std::getline(fields, c.name, '|');
    std::getline(fields, frame, '|');
    std::getline(fields, c.text);
    for (size_t at; (at = c.text.find("\\n")) != std::string::npos;) c.text.replace(at, 2, "\n");
    std::sscanf(frame.c_str(), "%dx%d", &c.frameWidth, &c.frameHeight);
    cues.push_back(c);
  }
  return cues;
}

// A binary PGM of maximum 3: the values are the palette values themselves.
bool ReadValuePgm(const std::string& path, PixelPlane* plane) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  uint32_t width = 0, height = 0, maximum = 0;
  if (!(in >> magic >> width >> height >> maximum) || magic != "P5" || maximum != 3) return false;
  in.get();
  *plane = PixelPlane(width, height);
  return static_cast<bool>(in.read(reinterpret_cast<char*>(plane->values.data()), plane->values.size()));
}

TEST(SubtitleGolden, CuesDrawAsTheirGoldenPictures) {
  SubtitleRasteriserPtr context;
  ASSERT_EQ(CreateSubtitleRasteriser(nullptr, &context), kSubtitleOk);
  const std::vector<GoldenCue> cues = ReadCues();
  ASSERT_GE(cues.size(), 4u);
  for (const GoldenCue& c : cues) {
    SCOPED_TRACE(c.name);
    PixelPlane golden;
    ASSERT_TRUE(ReadValuePgm(kGoldenDir + c.name + ".pgm", &golden));
    const test::CuePacket cue = test::DrawCuePacket(context.get(), c.text.c_str(), c.frameWidth, c.frameHeight);
    ASSERT_EQ(cue.result, kSubtitleOk);
    ASSERT_EQ(cue.bitmap.width, golden.width);
    ASSERT_EQ(cue.bitmap.height, golden.height);
    const auto diff = std::mismatch(golden.values.begin(), golden.values.end(), cue.bitmap.values.begin());
    if (diff.first != golden.values.end()) {
      const size_t at = static_cast<size_t>(diff.first - golden.values.begin());
      ADD_FAILURE() << "first differing pixel (" << at % golden.width << "," << at / golden.width << "): golden "
                    << int{*diff.first} << ", drawn " << int{*diff.second};
    }
  }
}

}  // namespace
}  // namespace vmf
