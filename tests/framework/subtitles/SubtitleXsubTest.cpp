// The rasteriser's packets, read by FFmpeg's decoder of this bitmap subtitle format: the
// rectangle it decodes has the packet's place and size and, pixel for pixel, the palette values
// of the bitmap the packet was built from (padded, and scaled down where a line is too wide).
// The cues of tests/data/subtitles/cues.txt also draw exactly as the golden pictures beside it
// (remade by regenerate.sh there when the drawing changes on purpose).
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/framework/subtitles/SubtitleCuePacket.h"

namespace vmf {
namespace {

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
// AVSubtitle is the caller's record; its rectangles are freed with it.
struct DecodedSubtitle {
  AVSubtitle sub{};
  ~DecodedSubtitle() { avsubtitle_free(&sub); }
};

// Packets with transparency bytes are the "DXSA" flavour of the format, the others "DXSB".
// FFmpeg reads up to its padding past the end of a packet. Answers whether a subtitle came out.
bool DecodeXsub(bool transparency, const uint8_t* data, uint16_t length, DecodedSubtitle* out) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_XSUB);
  std::unique_ptr<AVCodecContext, CodecContextFree> c(avcodec_alloc_context3(codec));
  if (!c) return false;
  c->codec_tag = transparency ? MKTAG('D', 'X', 'S', 'A') : MKTAG('D', 'X', 'S', 'B');
  if (avcodec_open2(c.get(), codec, nullptr) < 0) return false;
  std::vector<uint8_t> padded(data, data + length);
  padded.resize(length + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  AVPacket* pkt = av_packet_alloc();
  pkt->data = padded.data();
  pkt->size = length;
  int got = 0;
  const int used = avcodec_decode_subtitle2(c.get(), &out->sub, &got, pkt);
  av_packet_free(&pkt);
  return used >= 0 && got != 0;
}

const std::string kGoldenDir = std::string(VEXA_SOURCE_DIR) + "/tests/data/subtitles/";

struct XsubCase {
  std::string name, text;
  int32_t frameWidth = 0, frameHeight = 0;
  std::optional<bool> scaled;  // the line is wider than the area: the packet carries it shrunk
  bool golden = false;         // drawn as kGoldenDir/NAME.pgm
};

// The cues below, then those of the golden pictures.
std::vector<XsubCase> Cases() {
  std::vector<XsubCase> cases = {
      {"one line", "A single line", 960, 720, false},
      {"nine lines", "1\n2\n3\n4\n5\n6\n7\n8\n9", 960, 720, false},
      {"tags", "<i>italic</i> <b>bold</b>\n<u>under</u> <s>struck</s> <font color=\"#FF0000\">red</font>", 960, 720, false},
      {"Greek and Cyrillic", "Καλημέρα κόσμε\nПривет, мир", 1440, 1080, false},
      {"empty-looking", "  ", 960, 720, false},
      {"a line wider than the area", "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW", 960, 720, true},
  };
  std::ifstream in(kGoldenDir + "cues.txt");
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    XsubCase c;
    c.golden = true;
    std::istringstream fields(line);
    std::string frame;
    std::getline(fields, c.name, '|');
    std::getline(fields, frame, '|');
    std::getline(fields, c.text);
    for (size_t at; (at = c.text.find("\\n")) != std::string::npos;) c.text.replace(at, 2, "\n");
    std::sscanf(frame.c_str(), "%dx%d", &c.frameWidth, &c.frameHeight);
    cases.push_back(c);
  }
  return cases;
}

// A binary PGM of maximum 3: the values are the palette values themselves.
bool ReadValuePgm(const std::string& path, PixelPlane* plane) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  uint32_t width = 0, height = 0, maximum = 0;
  if (!(in >> magic >> width >> height >> maximum) || magic != "P5" || maximum != 3) return false;
  in.get();
  *plane = PixelPlane(width, height);
  return static_cast<bool>(in.read(reinterpret_cast<char*>(plane->values.data()), plane->values.size()));
}

TEST(SubtitleXsub, FfmpegDecodesEachPacketToTheRasterisersPixels) {
  SubtitleRasteriserPtr context;
  ASSERT_EQ(CreateSubtitleRasteriser(nullptr, &context), kSubtitleOk);
  const std::vector<XsubCase> cases = Cases();
  ASSERT_GE(std::count_if(cases.begin(), cases.end(), [](const XsubCase& c) { return c.golden; }), 4);
  for (const XsubCase& c : cases) {
    SCOPED_TRACE(c.name);
    const test::CuePacket cue = test::DrawCuePacket(context.get(), c.text.c_str(), c.frameWidth, c.frameHeight);
    ASSERT_EQ(cue.result, kSubtitleOk);
    PixelPlane golden;
    if (c.golden) {
      ASSERT_TRUE(ReadValuePgm(kGoldenDir + c.name + ".pgm", &golden));
      ASSERT_EQ(std::pair(cue.bitmap.width, cue.bitmap.height), std::pair(golden.width, golden.height));
      EXPECT_EQ(golden.values, cue.bitmap.values);
    }
    DecodedSubtitle out;
    ASSERT_TRUE(DecodeXsub(AreaOf(cue.preset).transparency != nullptr, cue.packet.get(), cue.length, &out));
    ASSERT_EQ(out.sub.num_rects, 1u);
    const AVSubtitleRect& rect = *out.sub.rects[0];
    SubtitleRecord header;
    std::memcpy(&header, cue.packet.get(), sizeof header);
    EXPECT_EQ(rect.x, int{header.x1});  // copied: the record is packed
    EXPECT_EQ(rect.y, int{header.y1});
    ASSERT_EQ(rect.w, static_cast<int>(cue.placed.width));
    ASSERT_EQ(rect.h, static_cast<int>(cue.placed.height));
    if (c.scaled) {
      EXPECT_EQ(cue.placed.width != CropPadded(cue.bitmap, FindEvenBox(cue.bitmap)).width, *c.scaled);
    }
    const uint32_t alpha0 = reinterpret_cast<const uint32_t*>(rect.data[1])[0] >> 24;
    EXPECT_EQ(alpha0, 0u) << "value 0 shows transparent";
    PixelPlane decoded(rect.w, rect.h);
    for (uint32_t y = 0; y < decoded.height; ++y)
      std::copy_n(rect.data[0] + size_t{y} * static_cast<size_t>(rect.linesize[0]), decoded.width, &decoded.Ref(0, y));
    EXPECT_EQ(decoded.values, cue.placed.values);
  }
}

}  // namespace
}  // namespace vmf
