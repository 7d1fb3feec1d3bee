// FFmpeg's decoder of this bitmap subtitle format reads the rasteriser's packets: the rectangle
// it decodes has the packet's place and size and, pixel for pixel, the palette values of the
// bitmap the packet was built from (padded, and scaled down where a line is too wide).
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <memory>
#include <vector>

#include "tests/framework/subtitles/SubtitleRunRows.h"

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

struct XsubCase {
  const char* name;
  const char* text;
  int32_t frameWidth, frameHeight;
  bool scaled;  // the line is wider than the area: the packet carries it shrunk
};

const XsubCase kCases[] = {
    {"one line", "A single line", 960, 720, false},
    {"wrapped lines", "This line is long enough that the layout has to wrap it at the right margin", 640, 480, true},
    {"nine lines", "1\n2\n3\n4\n5\n6\n7\n8\n9", 960, 720, false},
    {"tags", "<i>italic</i> <b>bold</b>\n<u>under</u> <s>struck</s> <font color=\"#FF0000\">red</font>", 960, 720, false},
    {"Greek and Cyrillic", "Καλημέρα κόσμε\nПривет, мир", 1440, 1080, false},
    {"empty-looking", "  ", 960, 720, false},
    {"a line wider than the area", "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW", 960, 720, true},
};

TEST(SubtitleXsub, FfmpegDecodesEachPacketToTheRasterisersPixels) {
  SubtitleRasteriserPtr context;
  ASSERT_EQ(CreateSubtitleRasteriser(nullptr, &context), kSubtitleOk);
  for (const XsubCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const test::CuePacket cue = test::DrawCuePacket(context.get(), c.text, c.frameWidth, c.frameHeight);
    ASSERT_EQ(cue.result, kSubtitleOk);
    DecodedSubtitle out;
    ASSERT_TRUE(DecodeXsub(AreaOf(cue.preset).transparency != nullptr, cue.packet.get(), cue.length, &out));
    ASSERT_EQ(out.sub.num_rects, 1u);
    const AVSubtitleRect& rect = *out.sub.rects[0];
    const SubtitleRecord header = test::HeaderOf(cue.packet.get());
    EXPECT_EQ(rect.x, int{header.x1});  // copied: the record is packed
    EXPECT_EQ(rect.y, int{header.y1});
    ASSERT_EQ(rect.w, static_cast<int>(cue.placed.width));
    ASSERT_EQ(rect.h, static_cast<int>(cue.placed.height));
    EXPECT_EQ(cue.placed.width != CropPadded(cue.bitmap, FindEvenBox(cue.bitmap)).width, c.scaled);
    const uint32_t alpha0 = reinterpret_cast<const uint32_t*>(rect.data[1])[0] >> 24;
    EXPECT_EQ(alpha0, 0u) << "value 0 shows transparent";
    size_t differing = 0;
    for (uint32_t y = 0; y < cue.placed.height; ++y) {
      for (uint32_t x = 0; x < cue.placed.width; ++x) {
        const uint8_t got = rect.data[0][size_t{y} * static_cast<size_t>(rect.linesize[0]) + x];
        if (got != cue.placed.At(x, y) && differing++ == 0) {
          ADD_FAILURE() << "first difference at (" << x << "," << y << "): ffmpeg " << int{got} << ", ours "
                        << int{cue.placed.At(x, y)};
        }
      }
    }
    EXPECT_EQ(differing, 0u);
  }
}

}  // namespace
}  // namespace vmf
