// Hostile and awkward files the reader once mishandled; each case names what went wrong.
#include <gtest/gtest.h>

#include "framework/matroska/MkvReader.h"
#include "framework/matroska/MkvResult.h"
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
    if (rc == mkv::kErrEndOfStream) break;
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
