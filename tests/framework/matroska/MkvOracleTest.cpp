// The reader against FFmpeg over files written by FFmpeg and mkvmerge: the same frames,
// byte for byte, at the same times, and seeks that land on the same key frames.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "framework/VmfErrors.h"
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
    int32_t rc = 0;
    reader_ = OpenBytes(LoadFile(path_), &rc);
    ASSERT_EQ(rc, 0);
  }
  static bool built_;
  std::string path_;
  std::vector<ProbeStream> probe_;
  std::unique_ptr<mkv::MkvReader> reader_;
};
bool MkvOracle::built_ = false;

struct ReadFrame {
  uint32_t size, crc;
  int64_t time;
  bool key, laced;
};

std::vector<ReadFrame> ReadStream(mkv::MkvReader& r, int32_t blockType, uint32_t stream) {
  std::vector<ReadFrame> out;
  std::vector<uint8_t> buf(4096);
  for (;;) {
    mkv::FrameInfo info;
    const int32_t rc = r.ReadFrame(blockType, stream, buf.data(), static_cast<uint32_t>(buf.size()), &info);
    if (rc == VMF_OUT_OF_MEMORY) {
      buf.resize(info.size);
      continue;
    }
    if (rc != VMF_OK) {
      EXPECT_EQ(rc, VMF_ERR_END_OF_STREAM);
      break;
    }
    out.push_back({info.size, static_cast<uint32_t>(crc32(0, buf.data(), info.size)), info.time, info.key, info.laced});
  }
  return out;
}

}  // namespace

TEST_P(MkvOracle, EveryTrackMatchesFfprobe) {
  uint32_t next[4] = {0, 0, 0, 0};
  size_t laced = 0;
  for (const ProbeStream& ps : probe_) {
    ASSERT_NE(ps.blockType, 0);
    const uint32_t stream = next[ps.blockType]++;
    const auto frames = ReadStream(*reader_, ps.blockType, stream);
    ASSERT_EQ(frames.size(), ps.packets.size()) << "block type " << ps.blockType << " stream " << stream;
    for (size_t i = 0; i < frames.size(); ++i) {
      const ProbePacket& p = ps.packets[i];
      ASSERT_EQ(frames[i].size, p.size) << "frame " << i;
      ASSERT_EQ(frames[i].crc, p.crc) << "frame " << i;
      if (frames[i].laced) {
        ++laced;
        continue;
      }
      EXPECT_EQ(frames[i].time, p.ptsMs * 10000) << "frame " << i;
      if (ps.blockType == 2) {
        EXPECT_EQ(frames[i].key, p.key) << "frame " << i;
      }
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
