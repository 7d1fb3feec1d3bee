// Cut-off copies of a real file give a prefix of its frames, never other data. (Damaged
// copies and crashes: tests/hostile.)
#include <gtest/gtest.h>

#include "framework/matroska/MkvFormat.h"
#include "tests/framework/matroska/MkvCorpus.h"

using namespace mkvtest;

namespace {

// Everything a caller can ask of an opened file; returns the frames of each stream.
std::vector<std::vector<Frame>> Exercise(mkv::MkvReader& r) {
  std::vector<std::vector<Frame>> out;
  uint8_t format[mkv::kFormatSize];
  for (int32_t kind = 1; kind <= 3; ++kind) {
    for (uint32_t s = 0; s < r.StreamCount(kind); ++s) {
      if (kind == 2) mkv::DescribeVideo(*r.Stream(kind, s), format);
      if (kind == 1) mkv::DescribeAudio(*r.Stream(kind, s), format);
      out.push_back(ReadAll(r, kind, s).frames);
    }
  }
  for (int64_t ms : {0, 700, 2000, 100000}) {
    int64_t t = ms * 10000;
    r.Seek(2, 0, &t);
    mkv::FrameInfo info;
    r.ReadFrame(2, 0, format, sizeof format, &info);
  }
  r.Duration();
  return out;
}

}  // namespace

TEST(MkvSweep, CutOffCopiesYieldAPrefixOfTheFrames) {
  ASSERT_TRUE(BuildCorpus());
  const std::vector<uint8_t> original = LoadFile(CorpusDir() + "/mkvmerge.mkv");
  const auto all = Exercise(*Open(original));
  size_t opened = 0;
  for (size_t len = 0; len < original.size(); len += len < 4096 ? 61 : 997) {
    int32_t rc = 0;
    auto r = OpenBytes(std::vector<uint8_t>(original.begin(), original.begin() + len), &rc);
    if (rc != 0) continue;
    ++opened;
    const auto got = Exercise(*r);
    ASSERT_EQ(got.size(), all.size()) << "length " << len;
    for (size_t s = 0; s < got.size(); ++s) {
      ASSERT_LE(got[s].size(), all[s].size());
      for (size_t i = 0; i < got[s].size(); ++i) ASSERT_EQ(got[s][i].data, all[s][i].data) << "length " << len << " stream " << s;
    }
  }
  EXPECT_GT(opened, 100u);
}
