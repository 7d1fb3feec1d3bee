// Hostile and awkward files the reader once mishandled; each case names what went wrong.
#include <gtest/gtest.h>


#include "framework/matroska/MkvTime.h"
#include "tests/framework/matroska/EbmlWriter.h"
#include "tests/framework/matroska/MkvCorpus.h"

using namespace mkvtest;

namespace {

constexpr int64_t kMs = 10000;

// `clusters` clusters 40 ms apart, each with one video block flagged key or not; `tail`
// follows the last of them.
Bytes VideoClusters(int clusters, bool keys, const Bytes& tail = {}) {
  Bytes body = Tracks(TrackEntry(1, 1, "V_MPEG4/ISO/AVC"));
  for (int i = 0; i < clusters; ++i) {
    const Bytes c = Cluster(i * 40, SimpleBlock(1, 0, keys ? 0x80 : 0x00, Bytes{static_cast<uint8_t>(i)}));
    body.insert(body.end(), c.begin(), c.end());
  }
  return File(Cat({body, tail}));
}

}  // namespace

// Times the file states that 64-bit arithmetic cannot hold: the product of a hostile
// timecode scale and a cluster time overflowed even 128 bits; a block duration of 2^64-1
// became a duration of INT64_MAX; the frames of a laced block with a default duration of
// 2^64-1 wrapped into negative times. Such blocks are reported bad; the good block after
// them is still read with its own time.
TEST(MkvHostileTimes, UnrepresentableTimesAreReportedBadNotWrapped) {
  const uint64_t huge = UINT64_MAX;
  const Bytes good = Cluster(1, SimpleBlock(1, 0, 0x80, Bytes{9}));
  const struct {
    const char* what;
    Bytes file;
    int64_t goodTime;  // of the good block after the hostile one
  } cases[] = {
      {"scale × cluster time", File(Cat({Tracks(Audio(1)), Cluster(huge, SimpleBlock(1, 0, 0x80, Bytes{1})), good}), huge), int64_t(huge / 100)},
      {"block duration", File(Cat({Tracks(Audio(1)), Cluster(0, Group(BlockPayload(1, 0, 0, Bytes{1}), Uint(0x9B, huge))), good})), 10000},
      {"laced default duration", File(Cat({Tracks(Audio(1, Uint(0x23E383, huge))),
                                           Cluster(0, SimpleBlock(1, 0, 0x84, Cat({Bytes{254}, Filled(255, 1)}))), good})), 10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = Open(c.file);
    const StreamRead got = ReadAll(*r, 1, 0);
    ASSERT_FALSE(got.frames.empty());
    EXPECT_FALSE(got.errors.empty());
    for (const Frame& f : got.frames) {
      EXPECT_LE(std::abs(f.info.time), mkv::kMaxTime);
      EXPECT_LE(std::abs(f.info.duration), mkv::kMaxTime);
    }
    EXPECT_EQ(got.frames.back().info.time, c.goodTime);
    EXPECT_LE(r->Duration(), mkv::kMaxTime * 2);
  }
}

// A well-formed element of a kind the reader does not know, larger than the byte-by-byte
// search after damage could cross, stood before the first cluster (or between clusters):
// the reader found no blocks at all.
TEST(MkvHostileLayout, UnknownElementsOfKnownSizeAreSkippedBySize) {
  const Bytes unknown = Element(0x1BADBEEF, Filled(5000, 3));
  auto r = Open(File(Cat({Tracks(Audio(1)), unknown, Cluster(0, SimpleBlock(1, 0, 0x80, Bytes{1})), unknown,
                          Cluster(5, SimpleBlock(1, 0, 0x80, Bytes{2}))})));
  EXPECT_EQ(ReadAll(*r, 1, 0).frames.size(), 2u);
}

// Video blocks that carry no key-frame flag at all: every seek failed, even to the start.
// Without key information a seek lands on the first block of the cluster at or before the
// target, and a seek to 0 on the first block.
TEST(MkvHostileSeek, BlocksWithoutKeyFlagsStillSeek) {
  auto r = Open(VideoClusters(10, false));
  for (const auto& [target, reached] : {std::pair{0 * kMs, 0 * kMs}, {130 * kMs, 120 * kMs}, {9000 * kMs, 360 * kMs}}) {
    int64_t time = target, next = -1;
    ASSERT_EQ(r->Seek(2, 0, &time), 0) << target;
    EXPECT_EQ(time, reached);
    ASSERT_EQ(r->NextFrameTime(2, 0, &next), 0);
    EXPECT_EQ(next, reached);
  }
}

// One out-of-order cluster at the end of a 20,000-cluster file (time 0, after the rest):
// a seek near the start landed on it, at the end of the file, and searches that found no
// key frame read on to the end once per seek point. Each seek now reads a bounded stretch (the
// test's time limit is the guard; it asserts no timing).
TEST(MkvHostileSeek, OutOfOrderClusterAndLongFilesSeekInBoundedTime) {
  constexpr int kClusters = 20000;
  auto r = Open(VideoClusters(kClusters, true, Cluster(0, SimpleBlock(1, 0, 0x80, Bytes{0xEE}))));
  for (int i = 0; i < kClusters; i += 997) {
    int64_t time = i * 40 * kMs + 20 * kMs, after = 0, before = 0;
    ASSERT_EQ(r->Seek(2, 0, &time), 0) << i;
    EXPECT_EQ(time, i * 40 * kMs);
    ASSERT_EQ(r->KeyFrameAround(i * 40 * kMs + 1, true, &after), 0);
    ASSERT_EQ(r->KeyFrameAround(i * 40 * kMs + 1, false, &before), 0);
    EXPECT_EQ(after, (i + 1) * 40 * kMs);
    EXPECT_EQ(before, i * 40 * kMs);
  }
  uint8_t byte = 0;
  mkv::FrameInfo info;
  int64_t time = 20 * kMs;
  ASSERT_EQ(r->Seek(2, 0, &time), 0);
  ASSERT_EQ(r->ReadFrame(2, 0, &byte, 1, &info), 0);
  EXPECT_EQ(byte, 0);  // the first cluster's block, not the last one's
}
