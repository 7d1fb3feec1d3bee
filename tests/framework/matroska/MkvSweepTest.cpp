// Cut-off copies of a real file give a prefix of its frames, never other data. (Damaged
// copies and crashes: tests/hostile.)
#include <gtest/gtest.h>

#include "framework/matroska/MkvFormat.h"
#include "framework/VmfErrors.h"
#include "tests/framework/matroska/MkvCorpus.h"

using namespace mkvtest;

namespace {

using Frames = std::vector<std::vector<uint8_t>>;
constexpr int kMaxReads = 20000;  // far more than any fixture holds: reaching it means a loop

// Everything a caller can ask of an opened file; returns the frames of each stream.
std::vector<Frames> Exercise(mkv::MkvReader& r) {
  std::vector<Frames> out;
  uint8_t format[mkv::kFormatSize];
  std::vector<uint8_t> buf(256);
  for (int32_t kind = 1; kind <= 3; ++kind) {
    for (uint32_t s = 0; s < r.StreamCount(kind); ++s) {
      const mkv::MkvTrack* t = r.Stream(kind, s);
      if (kind == 2) mkv::DescribeVideo(*t, format);
      if (kind == 1) mkv::DescribeAudio(*t, format);
      Frames frames;
      int reads = 0;
      for (; reads < kMaxReads; ++reads) {
        mkv::FrameInfo info;
        const int32_t rc = r.ReadFrame(kind, s, buf.data(), static_cast<uint32_t>(buf.size()), &info);
        if (rc == VMF_OUT_OF_MEMORY) {
          buf.resize(info.size);
          continue;
        }
        if (rc == VMF_ERR_END_OF_STREAM) break;
        if (rc == VMF_OK) frames.emplace_back(buf.begin(), buf.begin() + info.size);
      }
      EXPECT_LT(reads, kMaxReads) << "stream never ends";
      out.push_back(std::move(frames));
    }
  }
  for (int64_t ms : {0, 700, 2000, 100000}) {
    int64_t t = ms * 10000;
    r.Seek(2, 0, &t);
    mkv::FrameInfo info;
    r.ReadFrame(2, 0, buf.data(), static_cast<uint32_t>(buf.size()), &info);
  }
  r.Duration();
  return out;
}

class MkvSweep : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (BuildCorpus()) original_ = LoadFile(CorpusDir() + "/mkvmerge.mkv");
  }
  void SetUp() override { ASSERT_FALSE(original_.empty()); }
  static std::vector<uint8_t> original_;
};
std::vector<uint8_t> MkvSweep::original_;

}  // namespace

TEST_F(MkvSweep, CutOffCopiesYieldAPrefixOfTheFrames) {
  int32_t rc = 0;
  auto full = OpenBytes(original_, &rc);
  ASSERT_EQ(rc, 0);
  const auto all = Exercise(*full);
  size_t opened = 0;
  for (size_t len = 0; len < original_.size(); len += len < 4096 ? 61 : 997) {
    auto r = OpenBytes(std::vector<uint8_t>(original_.begin(), original_.begin() + len), &rc);
    if (rc != 0) continue;
    ++opened;
    const auto got = Exercise(*r);
    ASSERT_EQ(got.size(), all.size()) << "length " << len;
    for (size_t s = 0; s < got.size(); ++s) {
      ASSERT_LE(got[s].size(), all[s].size());
      for (size_t i = 0; i < got[s].size(); ++i) ASSERT_EQ(got[s][i], all[s][i]) << "length " << len << " stream " << s;
    }
  }
  EXPECT_GT(opened, 100u);
}
