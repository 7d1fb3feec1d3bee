// The reader against FFmpeg over files written by FFmpeg and mkvmerge: the same frames,
// byte for byte, at the same times, and seeks that land on the same key frames.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "tests/framework/matroska/MkvCorpus.h"

using namespace mkvtest;

namespace {

class MkvOracle : public ::testing::TestWithParam<const char*> {
 protected:
  static void SetUpTestSuite() { built_ = BuildCorpus(); }
  void SetUp() override {
    ASSERT_TRUE(built_) << "FFmpeg or mkvmerge could not build the corpus";
    path_ = CorpusDir() + "/" + GetParam();
    probe_ = Probe(path_);
    ASSERT_FALSE(probe_.empty());
    reader_ = Open(LoadFile(path_));
  }
  static bool built_;
  std::string path_;
  std::vector<ProbeStream> probe_;
  std::unique_ptr<mkv::MkvReader> reader_;
};
bool MkvOracle::built_ = false;

}  // namespace

TEST_P(MkvOracle, EveryTrackMatchesFfprobe) {
  uint32_t next[4] = {0, 0, 0, 0};
  size_t laced = 0;
  for (const ProbeStream& ps : probe_) {
    ASSERT_NE(ps.blockType, 0);
    const uint32_t stream = next[ps.blockType]++;
    SCOPED_TRACE(testing::Message() << "block type " << ps.blockType << " stream " << stream);
    const StreamRead read = ReadAll(*reader_, ps.blockType, stream);
    EXPECT_TRUE(read.errors.empty());
    ASSERT_EQ(read.frames.size(), ps.packets.size());
    for (size_t i = 0; i < read.frames.size(); ++i) {
      const auto& [data, info] = read.frames[i];
      ASSERT_EQ(info.size, ps.packets[i].size) << "frame " << i;
      ASSERT_EQ(crc32(0, data.data(), info.size), ps.packets[i].crc) << "frame " << i;
      laced += info.laced;
      if (info.laced) continue;
      EXPECT_EQ(info.time, ps.packets[i].ptsMs * 10000) << "frame " << i;
      EXPECT_TRUE(ps.blockType != 2 || info.key == ps.packets[i].key) << "frame " << i;
    }
  }
  EXPECT_EQ(reader_->StreamCount(2), 1u);
  EXPECT_EQ(reader_->StreamCount(1), 3u);
  EXPECT_EQ(reader_->StreamCount(3), 1u);
  if (std::string(GetParam()) == "zlib.mkv") {
    for (const mkv::MkvTrack& t : reader_->Segment().tracks) EXPECT_EQ(t.compression, mkv::Compression::kZlib);
  }
  // mkvmerge laces the audio; FFmpeg does not.
  EXPECT_EQ(laced > 0, std::string(GetParam()) != "ffmpeg.mkv" && std::string(GetParam()) != "pipe.mkv");
}

TEST_P(MkvOracle, SeekLandsOnFfmpegsKeyFrame) {
  std::vector<int64_t> keys;
  for (const ProbePacket& p : probe_[0].packets)
    if (p.key) keys.push_back(p.ptsMs);
  std::sort(keys.begin(), keys.end());
  ASSERT_GT(keys.size(), 2u);
  for (int64_t targetMs = -100; targetMs <= 3500; targetMs += 130) {
    auto it = std::upper_bound(keys.begin(), keys.end(), targetMs);
    const int64_t expected = it == keys.begin() ? keys.front() : *(it - 1);
    int64_t t = targetMs * 10000;
    ASSERT_EQ(reader_->Seek(1, 1, &t), 0);  // any stream positions the title by its video
    EXPECT_EQ(t, expected * 10000) << "target " << targetMs;
    std::vector<uint8_t> buf(1 << 20);
    mkv::FrameInfo v, a;
    ASSERT_EQ(reader_->ReadFrame(2, 0, buf.data(), static_cast<uint32_t>(buf.size()), &v), 0);
    EXPECT_EQ(v.time, t);
    EXPECT_TRUE(v.key);
    ASSERT_EQ(reader_->ReadFrame(1, 0, buf.data(), static_cast<uint32_t>(buf.size()), &a), 0);
    EXPECT_GE(a.time, t);
    EXPECT_LT(a.time, t + 5000000);
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, MkvOracle,
                         ::testing::Values("ffmpeg.mkv", "mkvmerge.mkv", "zlib.mkv", "nocues.mkv", "pipe.mkv"),
                         [](const auto& info) {
                           std::string n = info.param;
                           return n.substr(0, n.find('.'));
                         });
