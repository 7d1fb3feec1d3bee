// Hostile and awkward files the reader once mishandled; each case names what went wrong.
#include <gtest/gtest.h>

#include <chrono>

#include "framework/matroska/MkvReader.h"
#include "framework/VmfErrors.h"
#include "framework/matroska/MkvTime.h"
#include "tests/framework/matroska/EbmlWriter.h"

using namespace mkvtest;
using mkv::MkvReader;

namespace {

struct Read {
  std::vector<mkv::FrameInfo> frames;
  std::vector<int32_t> errors;
};

std::unique_ptr<MkvReader> OpenBytes(const Bytes& file) {
  auto reader = std::make_unique<MkvReader>(std::make_unique<mkv::MkvMemorySource>(file));
  EXPECT_EQ(reader->Open(), 0);
  return reader;
}

Read ReadStream(MkvReader& r, int32_t blockType) {
  Read out;
  Bytes buf(1 << 16);
  for (int guard = 0; guard < 100000; ++guard) {
    mkv::FrameInfo info;
    const int32_t rc = r.ReadFrame(blockType, 0, buf.data(), static_cast<uint32_t>(buf.size()), &info);
    if (rc == VMF_ERR_END_OF_STREAM) break;
    if (rc == 0) out.frames.push_back(info);
    else out.errors.push_back(rc);
  }
  return out;
}

Bytes Tracks(const Bytes& entries) { return Element(0x1654AE6B, entries); }
Bytes Audio(uint64_t number, const Bytes& more = {}) { return TrackEntry(number, 2, "A_AAC", more); }
Bytes Group(const Bytes& block, const Bytes& more) { return Element(0xA0, Cat({Element(0xA1, block), more})); }
Bytes File(const Bytes& children, uint64_t scale = 1000000) { return Cat({EbmlHeader(), Segment(children, scale)}); }

}  // namespace

// Times the file states that 64-bit arithmetic cannot hold: the product of a hostile
// timecode scale and a cluster time overflowed even 128 bits; a block duration of 2^64-1
// became a duration of INT64_MAX; the frames of a laced block with a default duration of
// 2^64-1 wrapped into negative times. Such blocks are reported bad; the good block after
// them is still read with its own time.
TEST(MkvHostileTimes, UnrepresentableTimesAreReportedBadNotWrapped) {
  const uint64_t huge = UINT64_MAX;
  const Bytes good = Cluster(1, SimpleBlock(1, 0, 0x80, Bytes{9}));
  struct Case {
    const char* what;
    Bytes file;
    int64_t goodTime;  // of the good block after the hostile one
  } cases[] = {
      {"scale × cluster time", File(Cat({Tracks(Audio(1)), Cluster(huge, SimpleBlock(1, 0, 0x80, Bytes{1})), Cluster(1, SimpleBlock(1, 0, 0x80, Bytes{9}))}), huge), int64_t(huge / 100)},
      {"block duration", File(Cat({Tracks(Audio(1)), Cluster(0, Group(BlockPayload(1, 0, 0, Bytes{1}), Uint(0x9B, huge))), good})), 10000},
      {"laced default duration", File(Cat({Tracks(Audio(1, Uint(0x23E383, huge))),
                                           Cluster(0, SimpleBlock(1, 0, 0x84, Cat({Bytes{254}, Filled(255, 1)}))), good})), 10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = OpenBytes(c.file);
    const Read got = ReadStream(*r, 1);
    ASSERT_FALSE(got.frames.empty());
    EXPECT_FALSE(got.errors.empty());
    for (const mkv::FrameInfo& f : got.frames) {
      EXPECT_LE(std::abs(f.time), mkv::kMaxTime);
      EXPECT_LE(std::abs(f.duration), mkv::kMaxTime);
    }
    EXPECT_EQ(got.frames.back().time, c.goodTime);
    EXPECT_LE(r->Duration(), mkv::kMaxTime * 2);
  }
}

// A well-formed element of a kind the reader does not know, larger than the byte-by-byte
// search after damage could cross, stood before the first cluster (or between clusters):
// the reader found no blocks at all.
TEST(MkvHostileLayout, UnknownElementsOfKnownSizeAreSkippedBySize) {
  const Bytes unknown = Element(0x1BADBEEF, Filled(5000, 3));
  auto r = OpenBytes(File(Cat({Tracks(Audio(1)), unknown, Cluster(0, SimpleBlock(1, 0, 0x80, Bytes{1})), unknown,
                                Cluster(5, SimpleBlock(1, 0, 0x80, Bytes{2}))})));
  EXPECT_EQ(ReadStream(*r, 1).frames.size(), 2u);
}

namespace {

// `clusters` clusters 40 ms apart, each with one video block flagged key or not; `tail`
// follows the last of them.
Bytes VideoClusters(int clusters, bool keys, const Bytes& tail = {}) {
  Bytes body = Tracks(TrackEntry(1, 1, "V_MPEG4/ISO/AVC"));
  body.reserve(clusters * 16);
  for (int i = 0; i < clusters; ++i) {
    const Bytes c = Cluster(i * 40, SimpleBlock(1, 0, keys ? 0x80 : 0x00, Bytes{static_cast<uint8_t>(i)}));
    body.insert(body.end(), c.begin(), c.end());
  }
  return File(Cat({body, tail}));
}

constexpr int64_t kMs = 10000;

}  // namespace

// Video blocks that carry no key-frame flag at all: every seek failed, even to the start.
// Without key information a seek lands on the first block of the cluster at or before the
// target, and a seek to 0 on the first block.
TEST(MkvHostileSeek, BlocksWithoutKeyFlagsStillSeek) {
  auto r = OpenBytes(VideoClusters(10, false));
  for (const auto& [target, reached] : {std::pair{0 * kMs, 0 * kMs}, {130 * kMs, 120 * kMs}, {9000 * kMs, 360 * kMs}}) {
    int64_t time = target;
    ASSERT_EQ(r->Seek(2, 0, &time), 0) << target;
    EXPECT_EQ(time, reached);
    int64_t next = -1;
    ASSERT_EQ(r->NextFrameTime(2, 0, &next), 0);
    EXPECT_EQ(next, reached);
  }
}

// One out-of-order cluster at the end of a 20,000-cluster file (time 0, after the rest):
// a seek near the start landed on it, at the end of the file, and searches that found no
// key frame read on to the end once per seek point. Each seek now reads a bounded stretch.
TEST(MkvHostileSeek, OutOfOrderClusterAndLongFilesSeekInBoundedTime) {
  constexpr int kClusters = 20000;
  auto r = OpenBytes(VideoClusters(kClusters, true, Cluster(0, SimpleBlock(1, 0, 0x80, Bytes{0xEE}))));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kClusters; i += 997) {
    int64_t time = i * 40 * kMs + 20 * kMs;
    ASSERT_EQ(r->Seek(2, 0, &time), 0) << i;
    EXPECT_EQ(time, i * 40 * kMs);
    int64_t found = 0;
    ASSERT_EQ(r->KeyFrameAround(i * 40 * kMs + 1, true, &found), 0);
    EXPECT_EQ(found, (i + 1) * 40 * kMs);
    ASSERT_EQ(r->KeyFrameAround(i * 40 * kMs + 1, false, &found), 0);
    EXPECT_EQ(found, i * 40 * kMs);
  }
  uint8_t byte = 0;
  mkv::FrameInfo info;
  int64_t time = 20 * kMs;
  ASSERT_EQ(r->Seek(2, 0, &time), 0);
  ASSERT_EQ(r->ReadFrame(2, 0, &byte, 1, &info), 0);
  EXPECT_EQ(byte, 0);  // the first cluster's block, not the last one's
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}
