// The reader over hand-built files: what muxers rarely write; titles of several parts (segments
// of one file, and ordered editions whose chapters name segments of the same file); and hostile
// and awkward files the reader once mishandled, each case naming what went wrong.
#include <gtest/gtest.h>
#include <zlib.h>

#include "framework/VmfQueryIds.h"
#include "framework/matroska/MkvFormat.h"
#include "framework/matroska/MkvModule.h"
#include "framework/matroska/MkvTime.h"
#include "framework/matroska/MkvTitle.h"
#include "tests/support/EbmlWriter.h"
#include "tests/framework/matroska/MkvCorpus.h"

using namespace mkvtest;
using mkv::MkvReader;

namespace {

// The bytes and the times of the frames read, in order.
std::vector<Bytes> Data(const StreamRead& read) {
  std::vector<Bytes> out;
  for (const Frame& f : read.frames) out.push_back(f.data);
  return out;
}
std::vector<int64_t> Times(const StreamRead& read) {
  std::vector<int64_t> out;
  for (const Frame& f : read.frames) out.push_back(f.info.time);
  return out;
}

// An AAC track whose frames last 21.333333 ms each.
Bytes AacTrack(uint64_t number, const Bytes& more = {}) { return Audio(number, Cat({Uint(0x23E383, 21333333), more})); }

Bytes ZlibCompress(const Bytes& in) {
  uLongf n = compressBound(in.size());
  Bytes out(n);
  compress2(out.data(), &n, in.data(), in.size(), 6);
  out.resize(n);
  return out;
}


// A download in progress: the first `available` bytes have arrived out of Size().
class GrowingSource final : public mkv::MkvByteSource {
 public:
  GrowingSource(Bytes bytes, size_t* available) : whole_(std::move(bytes)), available_(available) {}
  int32_t ReadAt(uint64_t offset, uint8_t* dst, uint32_t count, uint32_t* got) override {
    *got = 0;
    if (offset < Size() && offset >= *available_) return VMF_ERR_DATA_NOT_READY;
    // (Past the end the count is the caller's: the difference wraps above it.)
    return whole_.ReadAt(offset, dst, static_cast<uint32_t>(std::min<uint64_t>(count, *available_ - offset)), got);
  }
  uint64_t Size() const override { return whole_.Size(); }

 private:
  mkv::MkvMemorySource whole_;
  size_t* available_;
};


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

// Track 4's laced blocks whose sizes do not add up are dropped, the block after them read.
TEST(MkvLacing, EveryKindSplitsIntoTimedFramesAndSizesThatDoNotAddUpDropTheBlockOnly) {
  const Bytes f1 = Filled(300, 1), f2 = Filled(5, 2), f3 = Filled(40, 3);
  const Bytes a = Filled(10, 4), b = Filled(10, 5), c = Filled(10, 6), d = Filled(10, 7);
  // EBML: 100, then +2000000 and -1999990 as 4-byte signed differences, then the rest.
  const Bytes g1 = Filled(100, 8), g2 = Filled(2000100, 9), g3 = Filled(110, 10), g4 = Filled(7, 11);
  auto diff4 = [](int64_t d) { return SizeBytes(static_cast<uint64_t>(d + 0x7FFFFFF), 4); };
  const Bytes xiph = Cat({Bytes{2, 255, 45, 5}, f1, f2, f3});
  const Bytes fixed = Cat({Bytes{3}, a, b, c, d});
  const Bytes ebml = Cat({Bytes{3}, SizeBytes(100), diff4(2000000), diff4(-1999990), g1, g2, g3, g4});
  const Bytes bad = Cat({Bytes{1, 255, 255, 200}, Filled(20, 1)});  // first frame larger than the block
  const Bytes fixedUneven = Cat({Bytes{2}, Filled(10, 1)});         // 10 bytes in 3 frames
  const Bytes zeroSize = Cat({Bytes{1, 0x00, 0x81}, Filled(20, 1)}); // lace size whose first byte is 0
  auto r = Open(File(Cat({Tracks(Cat({AacTrack(1), AacTrack(2), AacTrack(3), AacTrack(4)})),
                          Cluster(1000, Cat({SimpleBlock(1, 0, 0x82, xiph), SimpleBlock(2, 5, 0x84, fixed),
                                             SimpleBlock(3, -3, 0x86, ebml), SimpleBlock(4, 0, 0x82, bad),
                                             SimpleBlock(4, 1, 0x84, fixedUneven), SimpleBlock(4, 2, 0x86, zeroSize),
                                             SimpleBlock(4, 3, 0x80, Filled(9, 9))}))})));
  // Each frame its own time: the block's plus the default duration per frame.
  auto times = [](int64_t first, int n) {
    std::vector<int64_t> out;
    for (int i = 0; i < n; ++i) out.push_back(first + i * 213333);
    return out;
  };
  const StreamRead x = ReadAll(*r, 1, 0), fx = ReadAll(*r, 1, 1), e = ReadAll(*r, 1, 2);
  EXPECT_EQ(Data(x), (std::vector<Bytes>{f1, f2, f3}));
  EXPECT_EQ(Times(x), times(10000000, 3));
  EXPECT_EQ(Data(fx), (std::vector<Bytes>{a, b, c, d}));
  EXPECT_EQ(Times(fx), times(10050000, 4));
  EXPECT_EQ(Data(e), (std::vector<Bytes>{g1, g2, g3, g4}));
  EXPECT_EQ(Times(e), times(9970000, 4));
  EXPECT_EQ(Data(ReadAll(*r, 1, 3)), std::vector<Bytes>{Filled(9, 9)});
  uint8_t byte = 0;
  mkv::FrameInfo info;
  EXPECT_EQ(r->ReadFrame(1, 4, &byte, 1, &info), VMF_ERR_INVALID_STREAM);
}

TEST(MkvContent, HeaderStrippingAndZlibAreUndoneOthersRefused) {
  auto encoding = [](const Bytes& compression) { return Element(0x6D80, Element(0x6240, Element(0x5034, compression))); };
  const Bytes stripped = encoding(Cat({Uint(0x4254, 3), Element(0x4255, Bytes{0x0B, 0x77})}));
  const Bytes plain = Filled(3000, 1);
  Bytes wrongHeader = ZlibCompress(plain);
  wrongHeader[1] = 0x01;  // 78 01
  auto r = Open(File(Cat({Tracks(Cat({AacTrack(1, stripped), AacTrack(2, encoding(Uint(0x4254, 0))), AacTrack(3, encoding(Uint(0x4254, 1)))})),
                          Cluster(0, Cat({SimpleBlock(1, 0, 0x80, Bytes{1, 2, 3}), SimpleBlock(2, 0, 0x80, ZlibCompress(plain)),
                                          SimpleBlock(2, 1, 0x80, wrongHeader), SimpleBlock(2, 2, 0x80, ZlibCompress(Filled(5, 5))),
                                          SimpleBlock(3, 0, 0x80, Bytes{1, 2})}))})));
  EXPECT_EQ(r->Stream(1, 0)->compression, mkv::Compression::kHeaderStripping);
  EXPECT_EQ(Data(ReadAll(*r, 1, 0)), (std::vector<Bytes>{{0x0B, 0x77, 1, 2, 3}}));
  // The frame with the wrong header is refused, the next one read.
  const StreamRead z = ReadAll(*r, 1, 1);
  EXPECT_EQ(Data(z), (std::vector<Bytes>{plain, Filled(5, 5)}));
  EXPECT_EQ(z.errors, std::vector<int32_t>{VMF_BAD_DATA});
  const StreamRead bzip = ReadAll(*r, 1, 2);
  EXPECT_TRUE(bzip.frames.empty());
  EXPECT_EQ(bzip.errors, std::vector<int32_t>{VMF_BAD_DATA});
}

TEST(MkvBlocks, GroupsKeyFlagsDurationsAndTimecodeScales) {
  const Bytes video = TrackEntry(1, 1, "V_MPEG4/ISO/AVC", Cat({Element(0x23314F, Bytes{0x40, 0, 0, 0}) /* 2.0f */,
                                                                Element(0xE0, Cat({Uint(0xB0, 64), Uint(0xBA, 48)}))}));
  // Segment ticks of 100 µs, track scale 2: a tick of the block is 200 µs.
  auto r = Open(File(Cat({Tracks(video), Cluster(100, Cat({Group(BlockPayload(1, 10, 0, Bytes{1}), Uint(0x9B, 4)),
                                                            Group(BlockPayload(1, 20, 0, Bytes{2}), Uint(0xFB, 0xF6)),
                                                            SimpleBlock(1, 30, 0x00, Bytes{3}), SimpleBlock(1, 40, 0x80, Bytes{4})}))}),
                     100000));
  const StreamRead f = ReadAll(*r, 2, 0);
  EXPECT_EQ(Times(f), (std::vector<int64_t>{220000, 240000, 260000, 280000}));  // 100-ns units
  ASSERT_EQ(f.frames.size(), 4u);
  EXPECT_EQ(f.frames[0].info.duration, 4 * 1000);  // block duration × segment scale
  // A group without a reference is a key frame; one with a reference, or a simple block
  // without the flag, is not.
  EXPECT_TRUE(f.frames[0].info.key && !f.frames[1].info.key && !f.frames[2].info.key && f.frames[3].info.key);
}

TEST(MkvResync, JunkZeroBytesAndUnknownSizes) {
  const Bytes junk = {'J', 'U', 'N', 'K', 0x00, 0x42, 0x13, 0x37};
  const Bytes badTrackNumber = Element(0xA3, Bytes{0x00, 0x81, 0, 0, 0x80, 7});
  // Unknown-size segment and clusters, junk between the info and the tracks and between
  // clusters, a lone zero byte before a cluster. "JUNK" reads as an element of an unknown kind
  // whose size ends inside a later element: passing it by that size would lose block 3.
  // Well-formed unknown elements larger than the byte-by-byte search after damage can cross,
  // before the first cluster and between clusters, are passed by their size (the reader once
  // found no blocks at all).
  const Bytes unknown = Element(0x1BADBEEF, Filled(5000, 3));
  // Inside a cluster, a well-formed unknown element (the next element starts where it ends) is
  // passed by its size: the block that looks like one inside it is not read.
  const Bytes hidden = Element(0x4FFE, SimpleBlock(1, 5, 0x80, Bytes{9}));
  const Bytes body = Cat({Element(0x1549A966, Uint(0x2AD7B1, 1000000)), junk, Tracks(AacTrack(1)), unknown,
                          Unsized(0x1F43B675, Cat({Uint(0xE7, 0), SimpleBlock(1, 0, 0x80, Bytes{1}), hidden, badTrackNumber,
                                                   SimpleBlock(1, 1, 0x80, Bytes{2})})),
                          junk, Bytes{0x00}, Unsized(0x1F43B675, Cat({Uint(0xE7, 10), SimpleBlock(1, 0, 0x80, Bytes{3})})),
                          Element(0x1254C367, Bytes{}),  // tags end the unsized cluster
                          Element(0x4FFF, Bytes(5000, 0)),  // where the junk's "size" would land
                          Cluster(20, SimpleBlock(1, 0, 0x80, Bytes{4}))});
  auto r = Open(Cat({EbmlHeader(), Unsized(0x18538067, body)}));
  ASSERT_EQ(r->StreamCount(1), 1u);
  const StreamRead f = ReadAll(*r, 1, 0);
  EXPECT_EQ(Data(f), (std::vector<Bytes>{{1}, {2}, {3}, {4}}));
  EXPECT_EQ(Times(f), (std::vector<int64_t>{0, 10000, 100000, 200000}));
}

TEST(MkvFormats, VideoAndAudioDescriptions) {
  mkv::MkvTrack v;
  v.codecType = 6;
  v.codecPrivate = {1, 100, 0, 30};
  v.video.hasPixelWidth = v.video.hasPixelHeight = v.hasDefaultDuration = true;
  v.video.pixelWidth = 320;
  v.video.pixelHeight = 240;
  v.defaultDuration = 40000000;
  mkv::MkvVideoFormat f{};
  auto* video = reinterpret_cast<uint8_t*>(&f);
  ASSERT_EQ(mkv::DescribeVideo(v, video), 0);
  EXPECT_EQ(std::tuple(f.frameRateNumerator, f.frameRateDenominator, std::string(f.fourcc, 4), f.imageSize),
            std::tuple(1000000000u, 40000000u, "H264", 320u * 240 * 3));
  v.video.interlaced = v.video.combineFields = true;
  ASSERT_EQ(mkv::DescribeVideo(v, video), 0);
  EXPECT_EQ(std::tuple(f.frameRateDenominator, f.interlaced), std::tuple(80000000u, 1u));
  v.codecPrivate[1] = 83;
  EXPECT_EQ(mkv::DescribeVideo(v, video), -1);
  v.codecType = 7;  // not usable
  EXPECT_EQ(mkv::DescribeVideo(v, video), VMF_ERR_CODEC_UNSUPPORTED);

  mkv::MkvTrack a;
  a.codecType = 36;
  a.codecPrivate = {0x12, 0x10};
  a.audio.hasChannels = true;
  a.audio.channels = 2;
  a.audio.samplingFrequency = 44100;
  mkv::MkvAudioFormat af{};
  ASSERT_EQ(mkv::DescribeAudio(a, reinterpret_cast<uint8_t*>(&af)), 0);
  EXPECT_EQ(std::tuple(af.recordKind, af.formatTag, af.channels, af.samplesPerSecond, af.extraSize, af.extra[0]),
            std::tuple(17, 255, 2, 44100u, 2, 0x12));
}

TEST(MkvHeaderElements, ChaptersTagsAndAttachments) {
  const Bytes chapters = Element(0x1043A770, Element(0x45B9, Cat({Uint(0x45BC, 7), Uint(0x45DD, 1),
      Element(0xB6, Cat({Uint(0x73C4, 11), Uint(0x91, 1000000000), Uint(0x92, 2000000000),
                         Element(0x80, Cat({Str(0x85, "Opening"), Str(0x437C, "ger")})),
                         Element(0xB6, Cat({Uint(0x73C4, 12), Uint(0x91, 1500000000)}))}))})));
  const Bytes tags = Element(0x1254C367, Element(0x7373, Cat({Element(0x63C0, Cat({Uint(0x68CA, 30), Uint(0x63C5, 99)})),
      Element(0x67C8, Cat({Str(0x45A3, "TITLE"), Str(0x4487, "Song"), Element(0x67C8, Str(0x45A3, "SORT"))}))})));
  const Bytes attachments = Element(0x1941A469, Element(0x61A7, Cat({Str(0x466E, "cover.png"), Str(0x4660, "image/png"),
      Uint(0x46AE, 5), Element(0x465C, Filled(33, 3))})));
  // Tags and attachments follow the clusters and are found through the seek head.
  const Bytes ahead = Cat({Element(0x1549A966, Uint(0x2AD7B1, 1000000)), Tracks(AacTrack(1)), chapters,
                           Cluster(0, SimpleBlock(1, 0, 0x80, Bytes{1}))});
  auto seekHead = [](uint64_t tagsAt, uint64_t attachmentsAt) {
    auto seek = [](uint32_t id, uint64_t pos) { return Element(0x4DBB, Cat({Element(0x53AB, IdBytes(id)), Uint(0x53AC, pos)})); };
    return Element(0x114D9B74, Cat({seek(0x1254C367, tagsAt), seek(0x1941A469, attachmentsAt)}));
  };
  const uint64_t tagsAt = seekHead(0, 0).size() + ahead.size();
  const Bytes head = seekHead(tagsAt, tagsAt + tags.size());
  ASSERT_EQ(head.size() + ahead.size(), tagsAt);
  auto r = Open(Cat({EbmlHeader(), Element(0x18538067, Cat({head, ahead, tags, attachments}))}));
  ASSERT_EQ(r->Editions().size(), 1u);
  const mkv::MkvEdition& e = r->Editions()[0];
  EXPECT_TRUE(e.ordered);
  ASSERT_EQ(e.chapters.size(), 1u);
  EXPECT_EQ(e.chapters[0].displays.at(0).language, "ger");
  EXPECT_EQ(e.chapters[0].children.at(0).start, 1500000000u);
  ASSERT_EQ(r->Tags().size(), 1u);
  EXPECT_EQ(r->Tags()[0].simpleTags.at(0).children.at(0).name, "SORT");
  ASSERT_EQ(r->Attachments().size(), 1u);
  Bytes data(33);
  ASSERT_EQ(r->ReadAttachment(0, data.data(), data.size()), 0);
  EXPECT_EQ(data, Filled(33, 3));
  EXPECT_EQ(r->ReadAttachment(1, data.data(), 1), VMF_ERR_VF3_PARSE_ATTACHMENTS);
}


TEST(MkvGrowingSource, BlocksNotYetArrivedAreNotReadyThenDelivered) {
  const Bytes head = Cat({EbmlHeader(), Unsized(0x18538067, Cat({Element(0x1549A966, Uint(0x2AD7B1, 1000000)), Tracks(AacTrack(1))}))});
  const Bytes whole = Cat({head, Cluster(0, Cat({SimpleBlock(1, 0, 0x80, Filled(50, 1)), Group(BlockPayload(1, 10, 0, Filled(60, 2)), Uint(0x9B, 5))})),
                           Cluster(20, SimpleBlock(1, 0, 0x80, Filled(70, 3)))});
  // Every point at which the download can stand once the headers are in.
  for (size_t cut = head.size() + 1; cut <= whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    size_t available = cut;
    MkvReader r(std::make_unique<GrowingSource>(whole, &available));
    ASSERT_EQ(r.Open(), 0);
    // The rest arrives once a read has found it missing.
    const StreamRead read = ReadEach([&](uint8_t* dst, uint32_t capacity, mkv::FrameInfo* info) {
      const int32_t rc = r.ReadFrame(1, 0, dst, capacity, info);
      if (rc == VMF_ERR_DATA_NOT_READY) available = whole.size();
      return rc;
    });
    EXPECT_EQ(read.errors, cut < whole.size() ? std::vector<int32_t>{VMF_ERR_DATA_NOT_READY} : std::vector<int32_t>{});
    EXPECT_EQ(Data(read), (std::vector<Bytes>{Filled(50, 1), Filled(60, 2), Filled(70, 3)}));
    ASSERT_EQ(read.frames.size(), 3u);
    EXPECT_EQ(read.frames[1].info.duration, 50000);
  }
}


TEST(MkvTitle, SegmentsOfOneFilePlayInTurnAndKeyFramesAreFoundAcrossThem) {
  // Segment A: 2 s, key frames at 0 and 1 s. Segment B: 3 s, key frames at 0 and 1.5 s.
  Title t(Cat({EbmlHeader(),
               VideoSegment(2000, 0xA1, Cat({Frames(0, {{0, true}, {500, false}}), Frames(1000, {{0, true}})})),
               VideoSegment(3000, 0xB2, Frames(0, {{0, true}, {700, false}, {1500, true}}))}));
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
  // Key frames around a time cross into the neighbouring segment.
  const struct { int64_t at; bool after; int32_t rc; int64_t found; } around[] = {
      {1500 * kMs, true, VMF_OK, 2000 * kMs},  // none left in the first
      {2100 * kMs, false, VMF_OK, 2000 * kMs}, {2600 * kMs, true, VMF_OK, 3500 * kMs},
      {1900 * kMs, false, VMF_OK, 1000 * kMs}, {3600 * kMs, true, VMF_ERR_END_OF_STREAM, -1}};
  for (const auto& c : around) {
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


// Times the file states that 64-bit arithmetic cannot hold: the product of a hostile
// timecode scale and a cluster time overflowed even 128 bits; a block duration of 2^64-1
// became a duration of INT64_MAX; the frames of a laced block with a default duration of
// 2^64-1 wrapped into negative times. Such blocks are reported bad; the good block after
// them is still read with its own time.
TEST(MkvHostileTimes, UnrepresentableTimesAreReportedBadNotWrapped) {
  const uint64_t huge = UINT64_MAX;
  const Bytes good = Cluster(1, SimpleBlock(1, 0, 0x80, Bytes{9}));
  // Each file, and the time of the good block after the hostile one.
  const struct { const char* what; Bytes file; int64_t goodTime; } cases[] = {
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
