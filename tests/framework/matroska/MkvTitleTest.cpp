// Titles of several parts: segments of one file, and ordered editions whose chapters name
// segments of the same file.
#include <gtest/gtest.h>

#include "framework/VmfQueryIds.h"
#include "framework/matroska/MkvModule.h"
#include "framework/matroska/MkvTitle.h"
#include "tests/framework/matroska/EbmlWriter.h"
#include "tests/framework/matroska/MkvCorpus.h"

using namespace mkvtest;

namespace {

constexpr int64_t kMs = 10000;  // 100-ns units per millisecond

// A segment with one video track, 1 ms ticks, the given duration, UID and children.
Bytes VideoSegment(double durationMs, uint8_t uid, const Bytes& more) {
  const Bytes info = Element(0x1549A966, Cat({Uint(0x2AD7B1, 1000000), Float(0x4489, durationMs),
                                              Element(0x73A4, Bytes(16, uid))}));
  return Element(0x18538067, Cat({info, Element(0x1654AE6B, TrackEntry(1, 1, "V_MPEG4/ISO/AVC")), more}));
}
// Frames of one byte named after their time, key frames flagged.
Bytes Frames(uint64_t clusterMs, std::initializer_list<std::pair<int16_t, bool>> frames) {
  Bytes blocks;
  for (const auto& [ms, key] : frames)
    blocks = Cat({blocks, SimpleBlock(1, ms, key ? 0x80 : 0x00, Bytes{static_cast<uint8_t>((clusterMs + ms) / 100)})});
  return Cluster(clusterMs, blocks);
}

using Seen = std::vector<std::pair<int64_t, uint8_t>>;

// Times and first bytes of the frames read.
Seen Summary(const StreamRead& read) {
  EXPECT_TRUE(read.errors.empty());
  Seen out;
  for (const Frame& f : read.frames) out.emplace_back(f.info.time, f.data[0]);
  return out;
}

struct Title {
  explicit Title(Bytes file) : reader(std::make_unique<mkv::MkvMemorySource>(std::move(file))) {
    EXPECT_EQ(reader.Open(), 0);
    title = std::make_unique<mkv::MkvTitle>(&reader);
    title->OpenFurtherSegments();
  }
  // The video frames from here to the end, and the same in file order, every stream.
  Seen ReadVideo() { return Summary(ReadEach([&](auto... a) { return title->ReadFrame(2, 0, a...); })); }
  Seen ReadAny() { return Summary(ReadEach([&](auto... a) { return title->ReadAnyFrame(a...); })); }
  mkv::MkvReader reader;
  std::unique_ptr<mkv::MkvTitle> title;
};

// Segment A: 2 s, key frames at 0 and 1 s. Segment B: 3 s, key frames at 0 and 1.5 s.
Bytes TwoSegments() {
  return Cat({EbmlHeader(),
              VideoSegment(2000, 0xA1, Cat({Frames(0, {{0, true}, {500, false}}), Frames(1000, {{0, true}})})),
              VideoSegment(3000, 0xB2, Frames(0, {{0, true}, {700, false}, {1500, true}}))});
}

}  // namespace

TEST(MkvTitle, SegmentsOfOneFilePlayInTurn) {
  Title t(TwoSegments());
  ASSERT_EQ(t.title->SegmentCount(), 2u);
  EXPECT_EQ(t.title->Duration(), 5000 * kMs);
  // In file order too the blocks of the second segment follow (they were never reached).
  EXPECT_EQ(t.ReadAny(), (Seen{{0, 0}, {500 * kMs, 5}, {1000 * kMs, 10}, {2000 * kMs, 0}, {2700 * kMs, 7}, {3500 * kMs, 15}}));

  // 2.6 s lies 0.6 s into the second segment, whose key frame at its start is reached.
  // From the first segment the stream runs on into the second.
  for (const auto& [target, seen] : {std::pair{2600 * kMs, Seen{{2000 * kMs, 0}, {2700 * kMs, 7}, {3500 * kMs, 15}}},
                                     {1200 * kMs, Seen{{1000 * kMs, 10}, {2000 * kMs, 0}, {2700 * kMs, 7}, {3500 * kMs, 15}}}}) {
    int64_t time = target;
    ASSERT_EQ(t.title->Seek(2, 0, &time), 0);
    EXPECT_EQ(time, seen[0].first);
    EXPECT_EQ(t.ReadVideo(), seen);
  }
  int64_t time = 0, end = 5000 * kMs;
  EXPECT_EQ(t.title->Seek(2, 1, &time), VMF_ERR_INVALID_STREAM);
  EXPECT_EQ(t.title->Seek(2, 0, &end), VMF_ERR_END_OF_STREAM);
}

TEST(MkvTitle, SyncTimesCrossIntoNeighbouringSegments) {
  Title t(TwoSegments());
  const struct { int64_t at; bool after; int32_t rc; int64_t found; } cases[] = {
      {1500 * kMs, true, VMF_OK, 2000 * kMs},  // none left in the first
      {2100 * kMs, false, VMF_OK, 2000 * kMs}, {2600 * kMs, true, VMF_OK, 3500 * kMs},
      {1900 * kMs, false, VMF_OK, 1000 * kMs}, {3600 * kMs, true, VMF_ERR_END_OF_STREAM, -1}};
  for (const auto& c : cases) {
    int64_t found = -1;
    EXPECT_EQ(t.title->KeyFrameAround(c.at, c.after, &found), c.rc) << c.at;
    EXPECT_EQ(c.rc == VMF_OK ? found : -1, c.found) << c.at;
  }
}

TEST(MkvTitle, OrderedEditionPlaysChaptersOfLinkedSegments) {
  auto chapter = [](uint64_t startMs, uint64_t endMs, const Bytes& segmentUid) {
    return Element(0xB6, Cat({Uint(0x91, startMs * 1000000), Uint(0x92, endMs * 1000000),
                              segmentUid.empty() ? Bytes{} : Element(0x6E67, segmentUid)}));
  };
  // 1 s to 2 s of its own segment, then the first second of segment B; a chapter that
  // names a segment of another file is left out.
  const Bytes chapters = Element(0x1043A770, Element(0x45B9, Cat({Uint(0x45DD, 1), chapter(1000, 2000, {}),
                                                                  chapter(0, 500, Bytes(16, 0xCC)),
                                                                  chapter(0, 1000, Bytes(16, 0xB2))})));
  const Bytes file = Cat({EbmlHeader(),
                          VideoSegment(3000, 0xA1, Cat({chapters, Frames(0, {{0, true}, {1000, true}, {1500, false}, {2000, true}})})),
                          VideoSegment(2000, 0xB2, Frames(0, {{0, true}, {500, false}, {1000, true}}))});
  Title t(file);
  EXPECT_TRUE(t.title->Ordered());
  ASSERT_EQ(t.title->PartCount(), 2u);
  EXPECT_EQ(t.title->Duration(), 2000 * kMs);
  // Read without a seek: the title starts at the first chapter's start.
  EXPECT_EQ(t.ReadVideo(), (Seen{{0, 10}, {500 * kMs, 15}, {1000 * kMs, 0}, {1500 * kMs, 5}}));

  int64_t time = 1600 * kMs, end = 2000 * kMs;
  ASSERT_EQ(t.title->Seek(2, 0, &time), 0);
  EXPECT_EQ(time, 1000 * kMs);
  EXPECT_EQ(t.ReadVideo(), (Seen{{1000 * kMs, 0}, {1500 * kMs, 5}}));
  EXPECT_EQ(t.title->Seek(2, 0, &end), VMF_ERR_END_OF_STREAM);
  // The key frame before the edition's end and before any time past it is the last one
  // the edition plays (1 s of segment B), not one of an earlier chapter.
  for (int64_t at : {2000 * kMs, 9000 * kMs}) {
    int64_t found = 0;
    ASSERT_EQ(t.title->KeyFrameAround(at, false, &found), 0);
    EXPECT_EQ(found, 1000 * kMs);
  }

  ASSERT_EQ(t.title->SelectEdition(0), 0);  // back to the start, in file order
  EXPECT_EQ(t.ReadAny(), (Seen{{0, 10}, {500 * kMs, 15}, {1000 * kMs, 0}, {1500 * kMs, 5}}));

  // Ordered editions not allowed: the segments themselves play (the setting was ignored).
  t.title->AllowOrdered(false);
  EXPECT_FALSE(t.title->Ordered());
  EXPECT_EQ(t.title->Duration(), 5000 * kMs);
  EXPECT_EQ(t.ReadAny().size(), 7u);

  // The same through the module's set-information entry.
  mkv::MkvModuleHandle* h = nullptr;
  ASSERT_EQ(mkv::OpenModuleHandle(std::make_unique<mkv::MkvMemorySource>(file), u"x.mkv", &h), 0);
  VmfQueryValue v{};
  ASSERT_EQ(mkv::MkvSetInfo(h, VMF_QID_PLAYLISTS_SET_ALLOW_ORDERED_FLAG, &v, 0), 0);
  ASSERT_EQ(mkv::MkvGetInfo(h, VMF_QID_TITLE_DURATION, &v, 0), 0);
  EXPECT_EQ(v.value.i64, 5000 * kMs);
  mkv::MkvCloseContainer(h);
}
