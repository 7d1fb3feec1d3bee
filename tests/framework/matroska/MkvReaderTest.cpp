// The reader over hand-built files: what muxers rarely write.
#include <gtest/gtest.h>
#include <zlib.h>

#include "framework/matroska/MkvEbml.h"
#include "framework/matroska/MkvFormat.h"
#include "framework/matroska/MkvReader.h"
#include "framework/VmfErrors.h"
#include "tests/framework/matroska/EbmlWriter.h"

using namespace mkvtest;
using mkv::MkvReader;

namespace {

struct Frame {
  Bytes data;
  int64_t time;
  int64_t duration;
  bool key;
};

std::unique_ptr<MkvReader> Open(const Bytes& file, int32_t expect = 0) {
  auto reader = std::make_unique<MkvReader>(std::make_unique<mkv::MkvMemorySource>(file));
  EXPECT_EQ(reader->Open(), expect);
  return reader;
}

// Reads every frame of a stream; `errors` collects results other than success.
std::vector<Frame> ReadAll(MkvReader& r, int32_t blockType, uint32_t stream,
                           std::vector<int32_t>* errors = nullptr) {
  std::vector<Frame> frames;
  Bytes buf(16);
  for (int guard = 0; guard < 10000; ++guard) {
    mkv::FrameInfo info;
    const int32_t rc = r.ReadFrame(blockType, stream, buf.data(), static_cast<uint32_t>(buf.size()), &info);
    if (rc == VMF_OUT_OF_MEMORY) {
      EXPECT_GT(info.size, buf.size());
      buf.resize(info.size);
      continue;
    }
    if (rc == VMF_ERR_END_OF_STREAM) break;
    if (rc != VMF_OK) {
      if (errors) errors->push_back(rc);
      else ADD_FAILURE() << "read failed " << rc;
      continue;
    }
    frames.push_back({Bytes(buf.begin(), buf.begin() + info.size), info.time, info.duration, info.key});
  }
  return frames;
}

Bytes AudioTrack(uint64_t number, const Bytes& more = {}) {
  return TrackEntry(number, 2, "A_AAC", Cat({Uint(0x23E383, 21333333), more}));
}

Bytes ZlibCompress(const Bytes& in) {
  uLongf n = compressBound(in.size());
  Bytes out(n);
  compress2(out.data(), &n, in.data(), in.size(), 6);
  out.resize(n);
  return out;
}

}  // namespace

TEST(EbmlNumbers, LengthsMarkersAndUnknownSizes) {
  mkv::EbmlNumber n;
  const uint8_t one[] = {0x81};
  ASSERT_EQ(mkv::ParseEbmlNumber(one, 1, mkv::EbmlReading::kUnsigned, &n), 0);
  EXPECT_EQ(n.value, 1u);
  const uint8_t id[] = {0x1A, 0x45, 0xDF, 0xA3};
  ASSERT_EQ(mkv::ParseEbmlNumber(id, 4, mkv::EbmlReading::kId, &n), 0);
  EXPECT_EQ(n.value, 0x1A45DFA3u);
  const uint8_t unknown[] = {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(mkv::ParseEbmlNumber(unknown, 8, mkv::EbmlReading::kUnsigned, &n), 0);
  EXPECT_TRUE(n.allOnes);
  const uint8_t unknown1[] = {0xFF};
  ASSERT_EQ(mkv::ParseEbmlNumber(unknown1, 1, mkv::EbmlReading::kUnsigned, &n), 0);
  EXPECT_TRUE(n.allOnes);
  // Cut short, and a first byte of 0 (no valid length).
  EXPECT_EQ(mkv::ParseEbmlNumber(unknown, 5, mkv::EbmlReading::kUnsigned, &n), VMF_SHORT_READ);
  const uint8_t zero[] = {0x00, 0x81};
  EXPECT_EQ(mkv::ParseEbmlNumber(zero, 2, mkv::EbmlReading::kUnsigned, &n), VMF_ERR_FILE_CORRUPT);
  // Signed: a 4-byte difference carries the bias 0x7FFFFFF.
  int64_t v = 0;
  uint32_t len = 0;
  const uint8_t minus1[] = {0x17, 0xFF, 0xFF, 0xFE};
  ASSERT_EQ(mkv::ParseEbmlSigned(minus1, 4, &v, &len), 0);
  EXPECT_EQ(v, -1);
  EXPECT_EQ(len, 4u);
  const uint8_t zero1[] = {0xBF};
  ASSERT_EQ(mkv::ParseEbmlSigned(zero1, 1, &v, &len), 0);
  EXPECT_EQ(v, 0);
}

TEST(MkvLacing, EveryKindSplitsIntoTimedFrames) {
  const Bytes f1 = Filled(300, 1), f2 = Filled(5, 2), f3 = Filled(40, 3);
  const Bytes xiph = Cat({Bytes{2, 255, 45, 5}, f1, f2, f3});
  const Bytes a = Filled(10, 4), b = Filled(10, 5), c = Filled(10, 6), d = Filled(10, 7);
  const Bytes fixed = Cat({Bytes{3}, a, b, c, d});
  // EBML: 100, then +2000000 and -1999990 as 4-byte signed differences, then the rest.
  const Bytes g1 = Filled(100, 8), g2 = Filled(2000100, 9), g3 = Filled(110, 10), g4 = Filled(7, 11);
  auto diff4 = [](int64_t d) { return SizeBytes(static_cast<uint64_t>(d + 0x7FFFFFF), 4); };
  const Bytes ebml = Cat({Bytes{3}, SizeBytes(100), diff4(2000000), diff4(-1999990), g1, g2, g3, g4});
  const Bytes file = Cat({EbmlHeader(),
                          Segment(Cat({Element(0x1654AE6B, Cat({AudioTrack(1), AudioTrack(2), AudioTrack(3)})),
                                       Cluster(1000, Cat({SimpleBlock(1, 0, 0x82, xiph), SimpleBlock(2, 5, 0x84, fixed),
                                                          SimpleBlock(3, -3, 0x86, ebml)}))}))});
  auto r = Open(file);
  const auto x = ReadAll(*r, 1, 0), fx = ReadAll(*r, 1, 1), e = ReadAll(*r, 1, 2);
  ASSERT_EQ(x.size(), 3u);
  EXPECT_EQ(x[0].data, f1);
  EXPECT_EQ(x[1].data, f2);
  EXPECT_EQ(x[2].data, f3);
  // Each frame its own time: the block's plus the default duration per frame.
  EXPECT_EQ(x[0].time, 10000000);
  EXPECT_EQ(x[1].time, 10000000 + 213333);
  EXPECT_EQ(x[2].time, 10000000 + 2 * 213333);
  ASSERT_EQ(fx.size(), 4u);
  EXPECT_EQ(fx[3].data, d);
  EXPECT_EQ(fx[0].time, 10050000);
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].data, g1);
  EXPECT_EQ(e[1].data, g2);
  EXPECT_EQ(e[2].data, g3);
  EXPECT_EQ(e[3].data, g4);
  EXPECT_EQ(e[0].time, 9970000);
}

TEST(MkvLacing, SizesThatDoNotAddUpDropTheBlockOnly) {
  const Bytes bad = Cat({Bytes{1, 255, 255, 200}, Filled(20, 1)});  // first frame larger than the block
  const Bytes fixedUneven = Cat({Bytes{2}, Filled(10, 1)});         // 10 bytes in 3 frames
  const Bytes zeroSize = Cat({Bytes{1, 0x00, 0x81}, Filled(20, 1)}); // lace size whose first byte is 0
  const Bytes good = Filled(9, 9);
  const Bytes file = Cat({EbmlHeader(), Segment(Cat({Element(0x1654AE6B, AudioTrack(1)),
                                                       Cluster(0, Cat({SimpleBlock(1, 0, 0x82, bad), SimpleBlock(1, 1, 0x84, fixedUneven),
                                                                       SimpleBlock(1, 2, 0x86, zeroSize), SimpleBlock(1, 3, 0x80, good)}))}))});
  auto r = Open(file);
  const auto frames = ReadAll(*r, 1, 0);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].data, good);
}

TEST(MkvContent, HeaderStrippingAndZlibAreUndoneOthersRefused) {
  const Bytes stripped = Element(0x6D80, Element(0x6240, Element(0x5034, Cat({Uint(0x4254, 3), Element(0x4255, Bytes{0x0B, 0x77})}))));
  const Bytes zlib = Element(0x6D80, Element(0x6240, Element(0x5034, Uint(0x4254, 0))));
  const Bytes bzip = Element(0x6D80, Element(0x6240, Element(0x5034, Uint(0x4254, 1))));
  const Bytes plain = Filled(3000, 1);
  Bytes wrongHeader = ZlibCompress(plain);
  wrongHeader[1] = 0x01;  // 78 01
  const Bytes file = Cat({EbmlHeader(), Segment(Cat({Element(0x1654AE6B, Cat({AudioTrack(1, stripped), AudioTrack(2, zlib), AudioTrack(3, bzip)})),
                                                       Cluster(0, Cat({SimpleBlock(1, 0, 0x80, Bytes{1, 2, 3}),
                                                                       SimpleBlock(2, 0, 0x80, ZlibCompress(plain)),
                                                                       SimpleBlock(2, 1, 0x80, wrongHeader),
                                                                       SimpleBlock(2, 2, 0x80, ZlibCompress(Filled(5, 5))),
                                                                       SimpleBlock(3, 0, 0x80, Bytes{1, 2})}))}))});
  auto r = Open(file);
  EXPECT_EQ(r->Stream(1, 0)->compression, mkv::Compression::kHeaderStripping);
  const auto hs = ReadAll(*r, 1, 0);
  ASSERT_EQ(hs.size(), 1u);
  EXPECT_EQ(hs[0].data, (Bytes{0x0B, 0x77, 1, 2, 3}));
  std::vector<int32_t> errors;
  const auto z = ReadAll(*r, 1, 1, &errors);
  ASSERT_EQ(z.size(), 2u);  // the frame with the wrong header is refused, the next one read
  EXPECT_EQ(z[0].data, plain);
  EXPECT_EQ(z[1].data, Filled(5, 5));
  EXPECT_EQ(errors, std::vector<int32_t>{VMF_BAD_DATA});
  errors.clear();
  EXPECT_TRUE(ReadAll(*r, 1, 2, &errors).empty());
  EXPECT_EQ(errors, std::vector<int32_t>{VMF_BAD_DATA});
}

TEST(MkvBlocks, GroupsKeyFlagsDurationsAndTimecodeScales) {
  const Bytes video = TrackEntry(1, 1, "V_MPEG4/ISO/AVC", Cat({Element(0x23314F, Bytes{0x40, 0, 0, 0}) /* 2.0f */,
                                                                Element(0xE0, Cat({Uint(0xB0, 64), Uint(0xBA, 48)}))}));
  const Bytes group1 = Element(0xA0, Cat({Element(0xA1, BlockPayload(1, 10, 0, Bytes{1})), Uint(0x9B, 4)}));
  const Bytes group2 = Element(0xA0, Cat({Element(0xA1, BlockPayload(1, 20, 0, Bytes{2})), Uint(0xFB, 0xF6)}));
  // Segment ticks of 100 µs, track scale 2: a tick of the block is 200 µs.
  const Bytes file = Cat({EbmlHeader(), Segment(Cat({Element(0x1654AE6B, video),
                                                       Cluster(100, Cat({group1, group2, SimpleBlock(1, 30, 0x00, Bytes{3}),
                                                                         SimpleBlock(1, 40, 0x80, Bytes{4})}))}),
                                                  100000)});
  auto r = Open(file);
  const auto f = ReadAll(*r, 2, 0);
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0].time, 110 * 2 * 1000);  // 100-ns units
  EXPECT_EQ(f[0].duration, 4 * 1000);    // block duration × segment scale
  EXPECT_TRUE(f[0].key);
  EXPECT_FALSE(f[1].key);  // has a reference
  EXPECT_FALSE(f[2].key);
  EXPECT_TRUE(f[3].key);
  EXPECT_EQ(f[3].time, 140 * 2 * 1000);
}

TEST(MkvResync, JunkZeroBytesAndUnknownSizes) {
  const Bytes tracks = Element(0x1654AE6B, AudioTrack(1));
  const Bytes junk = {'J', 'U', 'N', 'K', 0x00, 0x42, 0x13, 0x37};
  const Bytes badTrackNumber = Element(0xA3, Bytes{0x00, 0x81, 0, 0, 0x80, 7});
  // Unknown-size segment and clusters, junk between the info and the tracks and between
  // clusters, a lone zero byte before a cluster.
  const Bytes body = Cat({Element(0x1549A966, Uint(0x2AD7B1, 1000000)), junk, tracks,
                          Unsized(0x1F43B675, Cat({Uint(0xE7, 0), SimpleBlock(1, 0, 0x80, Bytes{1}), badTrackNumber,
                                                   SimpleBlock(1, 1, 0x80, Bytes{2})})),
                          junk, Bytes{0x00},
                          Unsized(0x1F43B675, Cat({Uint(0xE7, 10), SimpleBlock(1, 0, 0x80, Bytes{3})})),
                          Element(0x1254C367, Bytes{}),  // tags end the unsized cluster
                          Cluster(20, SimpleBlock(1, 0, 0x80, Bytes{4}))});
  const Bytes file = Cat({EbmlHeader(), Unsized(0x18538067, body)});
  auto r = Open(file);
  ASSERT_EQ(r->StreamCount(1), 1u);
  const auto f = ReadAll(*r, 1, 0);
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[2].data, Bytes{3});
  EXPECT_EQ(f[2].time, 100000);
  EXPECT_EQ(f[3].time, 200000);
}

TEST(MkvParseErrors, EachElementReportsItsOwn) {
  const Bytes wideValue = Element(0xD7, Bytes(9, 1));  // a 9-byte track number
  EXPECT_NE(Open(Cat({EbmlHeader(), Segment(Element(0x1654AE6B, Element(0xAE, wideValue)))}), VMF_ERR_VF3_PARSE_TRACKS), nullptr);
  const Bytes brokenChapter = Element(0x1043A770, Element(0x45B9, Bytes{0x73, 0xC4, 0x88, 1}));  // size past its parent
  Open(Cat({EbmlHeader(), Segment(brokenChapter)}), VMF_ERR_VF3_PARSE_CHAPTERS);
  Open(Cat({EbmlHeader(), Segment(Element(0x1C53BB6B, Element(0xBB, Bytes{0xB3, 0x8A, 1})))}), VMF_ERR_VF3_PARSE_CUES);
  Open(Cat({EbmlHeader(), Segment(Element(0x1254C367, Element(0x7373, Bytes{0x67, 0xC8, 0x85})))}), VMF_ERR_VF3_PARSE_TAGS);
  Open(Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0}, VMF_ERR_INVALID_FILE);
}

TEST(MkvFormats, VideoAndAudioDescriptions) {
  mkv::MkvTrack v;
  v.codecType = 6;
  v.codecPrivate = {1, 100, 0, 30};
  v.video.hasPixelWidth = v.video.hasPixelHeight = true;
  v.video.pixelWidth = 320;
  v.video.pixelHeight = 240;
  v.hasDefaultDuration = true;
  v.defaultDuration = 40000000;
  mkv::MkvVideoFormat f{};
  ASSERT_EQ(mkv::DescribeVideo(v, reinterpret_cast<uint8_t*>(&f)), 0);
  EXPECT_EQ(f.frameRateNumerator, 1000000000u);
  EXPECT_EQ(f.frameRateDenominator, 40000000u);
  EXPECT_EQ(std::string(f.fourcc, 4), "H264");
  EXPECT_EQ(f.imageSize, 320u * 240 * 3);
  v.video.interlaced = v.video.combineFields = true;
  ASSERT_EQ(mkv::DescribeVideo(v, reinterpret_cast<uint8_t*>(&f)), 0);
  EXPECT_EQ(f.frameRateDenominator, 80000000u);
  EXPECT_EQ(f.interlaced, 1u);
  v.codecPrivate[1] = 83;
  EXPECT_EQ(mkv::DescribeVideo(v, reinterpret_cast<uint8_t*>(&f)), -1);
  v.codecType = 7;  // not usable
  EXPECT_EQ(mkv::DescribeVideo(v, reinterpret_cast<uint8_t*>(&f)), VMF_ERR_CODEC_UNSUPPORTED);

  mkv::MkvTrack a;
  a.codecType = 36;
  a.codecPrivate = {0x12, 0x10};
  a.audio.hasChannels = true;
  a.audio.channels = 2;
  a.audio.samplingFrequency = 44100;
  mkv::MkvAudioFormat af{};
  ASSERT_EQ(mkv::DescribeAudio(a, reinterpret_cast<uint8_t*>(&af)), 0);
  EXPECT_EQ(af.recordKind, 17);
  EXPECT_EQ(af.formatTag, 255);
  EXPECT_EQ(af.channels, 2);
  EXPECT_EQ(af.samplesPerSecond, 44100u);
  EXPECT_EQ(af.extraSize, 2);
  EXPECT_EQ(af.extra[0], 0x12);
}

TEST(MkvBuffers, TooSmallAsksForTheSizeAndKeepsTheFrame) {
  const Bytes file = Cat({EbmlHeader(), Segment(Cat({Element(0x1654AE6B, AudioTrack(1)),
                                                       Cluster(0, SimpleBlock(1, 0, 0x80, Filled(100, 1)))}))});
  auto r = Open(file);
  Bytes buf(10);
  mkv::FrameInfo info;
  EXPECT_EQ(r->ReadFrame(1, 0, buf.data(), 10, &info), VMF_OUT_OF_MEMORY);
  EXPECT_EQ(info.size, 100u);
  buf.resize(100);
  ASSERT_EQ(r->ReadFrame(1, 0, buf.data(), 100, &info), 0);
  EXPECT_EQ(buf, Filled(100, 1));
  EXPECT_EQ(r->ReadFrame(1, 0, buf.data(), 100, &info), VMF_ERR_END_OF_STREAM);
  EXPECT_EQ(r->ReadFrame(1, 1, buf.data(), 100, &info), VMF_ERR_INVALID_STREAM);
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
  const Bytes cluster = Cluster(0, SimpleBlock(1, 0, 0x80, Bytes{1}));
  const Bytes tracks = Element(0x1654AE6B, AudioTrack(1));
  const Bytes info = Element(0x1549A966, Uint(0x2AD7B1, 1000000));
  auto seek = [](uint32_t id, uint64_t pos) { return Element(0x4DBB, Cat({Element(0x53AB, IdBytes(id)), Uint(0x53AC, pos)})); };
  Bytes head = Element(0x114D9B74, Cat({seek(0x1254C367, 0), seek(0x1941A469, 0)}));
  const size_t fixedHead = head.size();
  const uint64_t tagsAt = fixedHead + info.size() + tracks.size() + chapters.size() + cluster.size();
  head = Element(0x114D9B74, Cat({seek(0x1254C367, tagsAt), seek(0x1941A469, tagsAt + tags.size())}));
  ASSERT_EQ(head.size(), fixedHead);
  const Bytes file = Cat({EbmlHeader(), Element(0x18538067, Cat({head, info, tracks, chapters, cluster, tags, attachments}))});
  auto r = Open(file);
  ASSERT_EQ(r->Editions().size(), 1u);
  const mkv::MkvEdition& e = r->Editions()[0];
  EXPECT_TRUE(e.ordered);
  ASSERT_EQ(e.chapters.size(), 1u);
  EXPECT_EQ(e.chapters[0].displays.at(0).language, "ger");
  EXPECT_EQ(e.chapters[0].children.at(0).start, 1500000000u);
  // Found through the seek head, after the clusters.
  ASSERT_EQ(r->Tags().size(), 1u);
  EXPECT_EQ(r->Tags()[0].simpleTags.at(0).children.at(0).name, "SORT");
  ASSERT_EQ(r->Attachments().size(), 1u);
  Bytes data(33);
  ASSERT_EQ(r->ReadAttachment(0, data.data(), data.size()), 0);
  EXPECT_EQ(data, Filled(33, 3));
  EXPECT_EQ(r->ReadAttachment(1, data.data(), 1), VMF_ERR_VF3_PARSE_ATTACHMENTS);
}

namespace {

// A download in progress: the first `available` bytes have arrived out of Size().
class GrowingSource final : public mkv::MkvByteSource {
 public:
  GrowingSource(Bytes bytes, size_t* available) : bytes_(std::move(bytes)), available_(available) {}
  int32_t ReadAt(uint64_t offset, uint8_t* dst, uint32_t count, uint32_t* got) override {
    *got = 0;
    if (offset >= bytes_.size()) return 0;
    if (offset >= *available_) return VMF_ERR_DATA_NOT_READY;
    *got = static_cast<uint32_t>(std::min<uint64_t>(count, *available_ - offset));
    std::memcpy(dst, bytes_.data() + offset, *got);
    return 0;
  }
  uint64_t Size() const override { return bytes_.size(); }

 private:
  Bytes bytes_;
  size_t* available_;
};

}  // namespace

TEST(MkvGrowingSource, BlocksNotYetArrivedAreNotReadyThenDelivered) {
  const Bytes head = Cat({EbmlHeader(), Element(0x1549A966, Uint(0x2AD7B1, 1000000)), Element(0x1654AE6B, AudioTrack(1))});
  const Bytes body = Cat({Cluster(0, Cat({SimpleBlock(1, 0, 0x80, Filled(50, 1)),
                                          Element(0xA0, Cat({Element(0xA1, BlockPayload(1, 10, 0, Filled(60, 2))), Uint(0x9B, 5)}))})),
                          Cluster(20, SimpleBlock(1, 0, 0x80, Filled(70, 3)))});
  const Bytes file = Cat({head, body});
  const size_t segmentStart = EbmlHeader().size();
  const Bytes whole = Cat({EbmlHeader(), Unsized(0x18538067, Bytes(file.begin() + segmentStart, file.end()))});
  const size_t headerEnd = whole.size() - body.size();
  // Every point at which the download can stand once the headers are in.
  for (size_t cut = headerEnd + 1; cut <= whole.size(); ++cut) {
    size_t available = cut;
    MkvReader r(std::make_unique<GrowingSource>(whole, &available));
    ASSERT_EQ(r.Open(), 0) << cut;
    std::vector<Frame> frames;
    Bytes buf(128);
    int notReady = 0;
    for (int guard = 0; guard < 20; ++guard) {
      mkv::FrameInfo info;
      const int32_t rc = r.ReadFrame(1, 0, buf.data(), static_cast<uint32_t>(buf.size()), &info);
      if (rc == VMF_ERR_END_OF_STREAM) break;
      if (rc == VMF_ERR_DATA_NOT_READY) {
        ++notReady;
        available = whole.size();  // the rest arrives
        continue;
      }
      ASSERT_EQ(rc, 0) << cut;
      frames.push_back({Bytes(buf.begin(), buf.begin() + info.size), info.time, info.duration, info.key});
    }
    EXPECT_EQ(notReady, cut < whole.size() ? 1 : 0) << cut;
    ASSERT_EQ(frames.size(), 3u) << cut;
    EXPECT_EQ(frames[1].data, Filled(60, 2)) << cut;
    EXPECT_EQ(frames[1].duration, 50000) << cut;
    EXPECT_EQ(frames[2].data, Filled(70, 3)) << cut;
  }
}
