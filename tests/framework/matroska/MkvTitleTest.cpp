// Titles of several parts: segments of one file, and ordered editions whose chapters name
// segments of the same file.
#include <gtest/gtest.h>

#include "framework/VmfQueryIds.h"
#include "framework/matroska/MkvModule.h"
#include "framework/matroska/MkvReader.h"
#include "framework/VmfErrors.h"
#include "framework/matroska/MkvTitle.h"
#include "tests/framework/matroska/EbmlWriter.h"

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

struct Title {
  explicit Title(Bytes file) : reader(std::make_unique<mkv::MkvMemorySource>(std::move(file))) {
    EXPECT_EQ(reader.Open(), 0);
    title = std::make_unique<mkv::MkvTitle>(&reader);
    title->OpenFurtherSegments();
  }
  // Times and first bytes of the video frames from here to the end.
  std::vector<std::pair<int64_t, uint8_t>> ReadVideo() {
    std::vector<std::pair<int64_t, uint8_t>> out;
    uint8_t buf[16];
    mkv::FrameInfo info;
    for (int guard = 0; guard < 100; ++guard) {
      const int32_t rc = title->ReadFrame(2, 0, buf, sizeof buf, &info);
      if (rc == VMF_ERR_END_OF_STREAM) break;
      EXPECT_EQ(rc, 0);
      out.emplace_back(info.time, buf[0]);
    }
    return out;
  }
  // The same in file order, every stream.
  std::vector<std::pair<int64_t, uint8_t>> ReadAny() {
    std::vector<std::pair<int64_t, uint8_t>> out;
    uint8_t buf[16];
    mkv::FrameInfo info;
    for (int guard = 0; guard < 100; ++guard) {
      const int32_t rc = title->ReadAnyFrame(buf, sizeof buf, &info);
      if (rc == VMF_ERR_END_OF_STREAM) break;
      EXPECT_EQ(rc, 0);
      out.emplace_back(info.time, buf[0]);
    }
    return out;
  }
  mkv::MkvReader reader;
  std::unique_ptr<mkv::MkvTitle> title;
};

using Seen = std::vector<std::pair<int64_t, uint8_t>>;

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
  int64_t time = 2600 * kMs;
  ASSERT_EQ(t.title->Seek(2, 0, &time), 0);
  EXPECT_EQ(time, 2000 * kMs);
  EXPECT_EQ(t.ReadVideo(), (Seen{{2000 * kMs, 0}, {2700 * kMs, 7}, {3500 * kMs, 15}}));

  // From the first segment the stream runs on into the second.
  time = 1200 * kMs;
  ASSERT_EQ(t.title->Seek(2, 0, &time), 0);
  EXPECT_EQ(time, 1000 * kMs);
  EXPECT_EQ(t.ReadVideo(), (Seen{{1000 * kMs, 10}, {2000 * kMs, 0}, {2700 * kMs, 7}, {3500 * kMs, 15}}));

  time = 5000 * kMs;
  EXPECT_EQ(t.title->Seek(2, 0, &time), VMF_ERR_END_OF_STREAM);
  time = 0;
  EXPECT_EQ(t.title->Seek(2, 1, &time), VMF_ERR_INVALID_STREAM);
}

TEST(MkvTitle, SyncTimesCrossIntoNeighbouringSegments) {
  Title t(TwoSegments());
  int64_t found = 0;
  ASSERT_EQ(t.title->KeyFrameAround(1500 * kMs, true, &found), 0);  // none left in the first
  EXPECT_EQ(found, 2000 * kMs);
  ASSERT_EQ(t.title->KeyFrameAround(2100 * kMs, false, &found), 0);
  EXPECT_EQ(found, 2000 * kMs);
  ASSERT_EQ(t.title->KeyFrameAround(2600 * kMs, true, &found), 0);
  EXPECT_EQ(found, 3500 * kMs);
  ASSERT_EQ(t.title->KeyFrameAround(1900 * kMs, false, &found), 0);
  EXPECT_EQ(found, 1000 * kMs);
  EXPECT_EQ(t.title->KeyFrameAround(3600 * kMs, true, &found), VMF_ERR_END_OF_STREAM);
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

  int64_t time = 1600 * kMs;
  ASSERT_EQ(t.title->Seek(2, 0, &time), 0);
  EXPECT_EQ(time, 1000 * kMs);
  EXPECT_EQ(t.ReadVideo(), (Seen{{1000 * kMs, 0}, {1500 * kMs, 5}}));
  time = 2000 * kMs;
  EXPECT_EQ(t.title->Seek(2, 0, &time), VMF_ERR_END_OF_STREAM);
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

TEST(MkvTitle, AtMostAHundredSegments) {
  Bytes file = EbmlHeader();
  for (int i = 0; i < 120; ++i) file = Cat({file, VideoSegment(40, 1, Frames(0, {{0, true}}))});
  Title t(file);
  EXPECT_EQ(t.title->SegmentCount(), mkv::kMaxTitleParts);
  EXPECT_EQ(t.title->Duration(), 100 * 40 * kMs);
  EXPECT_EQ(t.ReadVideo().size(), 100u);
}
