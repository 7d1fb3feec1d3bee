// Packet building: run-length codes, time text, presets, the empty box, cropping, scaling and
// the length limit. Packets are decoded back to pixels and compared with their bitmaps.
#include <gtest/gtest.h>

#include <vector>

#include "framework/subtitles/SubtitlePacket.h"
#include "framework/subtitles/SubtitleRunLength.h"
#include "tests/framework/subtitles/SubtitleTestSupport.h"

namespace vmf {
namespace {

struct PixelRun {
  uint32_t length;
  uint8_t colour;
};
struct RunCase {
  const char* name;
  std::vector<PixelRun> runs;
  std::vector<uint8_t> bytes;
};

TEST(SubtitleRunLength, RowsEncodeToNibbleCodesAndDecodeBack) {
  const RunCase cases[] = {
      {"300 clear to the row end", {{300, 0}}, {0x00, 0x00}},
      {"256 then another colour", {{256, 1}, {1, 2}}, {0x03, 0xFD, 0x56}},
      {"600 then another colour", {{600, 1}, {1, 0}}, {0x03, 0xFD, 0x03, 0xFD, 0x01, 0x69, 0x40}},
      {"3: one nibble", {{3, 1}}, {0xD0}},
      {"4: two nibbles", {{4, 1}}, {0x11}},
      {"15: two nibbles", {{15, 2}}, {0x3E}},
      {"16: three nibbles", {{16, 1}}, {0x04, 0x10}},
      {"63: three nibbles", {{63, 3}}, {0x0F, 0xF0}},
      {"64: four nibbles", {{64, 1}}, {0x01, 0x01}},
      {"255: four nibbles", {{255, 2}}, {0x03, 0xFE}},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t width = 0;
    for (const PixelRun& r : c.runs) width += r.length;
    PixelPlane row(width, 1);
    uint32_t x = 0;
    for (const PixelRun& r : c.runs)
      for (uint32_t i = 0; i < r.length; ++i) row.Ref(x++, 0) = r.colour;
    const RunLengthFields fields = EncodeRunLength(row);
    EXPECT_EQ(fields.data, c.bytes);
    EXPECT_EQ(fields.secondFieldOffset, fields.data.size());
    const PixelPlane back = test::ReadFields(fields.data.data(), fields.data.size(), width, 1, fields.secondFieldOffset);
    EXPECT_EQ(back.values, row.values);
  }
}

TEST(SubtitleTimeText, HoursMinutesSecondsAndMilliseconds) {
  const struct {
    uint64_t start, stop;
    const char* text;
  } cases[] = {
      {37'230'000'000, 37'235'000'000, "[01:02:03.000-01:02:03.500]"},
      {0, 9'990'000 + 5'990'000'000, "[00:00:00.000-00:09:59.999]"},
  };
  for (const auto& c : cases) {
    char text[kTimeTextSize];
    FormatSubtitleTime(c.start, c.stop, text);
    EXPECT_STREQ(text, c.text);
  }
}

TEST(SubtitlePreset, FrameSidesPickTheArea) {
  const struct {
    int32_t width, height;
    bool known;
    SubtitlePreset preset;
  } cases[] = {
      {960, 1, true, SubtitlePreset::kMedium}, {640, 720, true, SubtitlePreset::kMedium},
      {640, 1, true, SubtitlePreset::kSmall},  {1, 480, true, SubtitlePreset::kSmall},
      {1920, 1080, true, SubtitlePreset::kLarge}, {1440, 1, true, SubtitlePreset::kLarge},
      {1280, 800, false, SubtitlePreset::kSmall},
  };
  for (const auto& c : cases) {
    SubtitlePreset preset = SubtitlePreset::kSmall;
    EXPECT_EQ(PickSubtitlePreset(c.width, c.height, &preset), c.known) << c.width << "x" << c.height;
    if (c.known) {
      EXPECT_EQ(preset, c.preset) << c.width << "x" << c.height;
    }
  }
}

struct Built {
  int32_t result;
  uint16_t length = 0;
  SubtitleBytes packet;
};
Built Build(SubtitlePreset preset, const PixelPlane& plane, bool positioned) {
  Built b;
  const SubtitleBytes bitmap = PackFourBit(plane);
  const SubtitleRecord record = test::CueRecord(plane.width, plane.height, "[00:00:01.000-00:00:02.000]");
  b.result = BuildSubtitlePacket(preset, bitmap.get(), record, &b.length, &b.packet, positioned);
  return b;
}

struct EmptyCase {
  SubtitlePreset preset;
  uint16_t x1, y1;
  bool transparency;
};
class SubtitleEmptyPacket : public testing::TestWithParam<EmptyCase> {};

TEST_P(SubtitleEmptyPacket, IsEightByFourClearAtTheBottomCentre) {
  const EmptyCase& c = GetParam();
  const Built b = Build(c.preset, PixelPlane(kEmptyBitmapSide, kEmptyBitmapSide), true);
  ASSERT_EQ(b.result, kSubtitleOk);
  const SubtitleRecord h = test::HeaderOf(b.packet.get());
  EXPECT_EQ(std::string(h.timeText, sizeof h.timeText), "[00:00:01.000-00:00:02.000]");
  EXPECT_EQ(std::vector<uint16_t>({h.width, h.height, h.x1, h.y1, h.x2, h.y2}),
            std::vector<uint16_t>({8, 4, c.x1, c.y1, uint16_t(c.x1 + 7), uint16_t(c.y1 + 3)}));
  EXPECT_EQ(h.colours[6], 254);
  const std::vector<uint8_t> tail(b.packet.get() + 53, b.packet.get() + 57);
  const uint8_t* end = b.packet.get() + b.length - 4;
  EXPECT_EQ(c.transparency ? tail : std::vector<uint8_t>(end, end + 4),
            c.transparency ? std::vector<uint8_t>({0, 255, 255, 255}) : std::vector<uint8_t>(4, 0));
  const PixelPlane back = test::DecodePacket(b.packet.get(), b.length, c.transparency);
  EXPECT_EQ(back.values, std::vector<uint8_t>(8 * 4, kPixelClear));
}

INSTANTIATE_TEST_SUITE_P(Presets, SubtitleEmptyPacket,
                         testing::Values(EmptyCase{SubtitlePreset::kSmall, 314, 450, false},
                                         EmptyCase{SubtitlePreset::kMedium, 474, 666, true},
                                         EmptyCase{SubtitlePreset::kLarge, 714, 1018, true}),
                         [](const testing::TestParamInfo<EmptyCase>& info) {
                           return std::string(info.index == 0 ? "Small" : info.index == 1 ? "Medium" : "Large");
                         });

uint8_t Pattern(uint32_t x, uint32_t y) { return static_cast<uint8_t>(1 + (x + 2 * y) % 3); }

TEST(SubtitlePacket, UnplacedBoxIsCroppedEvenPaddedAndRoundTrips) {
  PixelPlane plane(13, 9);
  for (uint32_t y = 2; y <= 8; ++y)  // box 9 x 7: its last column and its top row go
    for (uint32_t x = 3; x <= 11; ++x) plane.Ref(x, y) = Pattern(x, y);
  const Built b = Build(SubtitlePreset::kMedium, plane, false);
  ASSERT_EQ(b.result, kSubtitleOk);
  const SubtitleRecord h = test::HeaderOf(b.packet.get());
  EXPECT_EQ(std::vector<uint16_t>({h.width, h.height, h.x1, h.y1}), std::vector<uint16_t>({12, 6, 4, 4}));
  const PixelPlane back = test::DecodePacket(b.packet.get(), b.length, true);
  for (uint32_t y = 0; y < 6; ++y)
    for (uint32_t x = 0; x < 12; ++x)
      EXPECT_EQ(back.At(x, y), x < 2 || x >= 10 ? 0 : Pattern(x + 1, y + 3)) << x << "," << y;
}

TEST(SubtitlePacket, TooWideLineIsScaledIntoTheArea) {
  PixelPlane plane(2000, 40);
  for (uint32_t y = 0; y < 40; ++y)
    for (uint32_t x = 0; x < 2000; ++x) plane.Ref(x, y) = (x < 10 || x >= 1990) ? kPixelOutline : kPixelText;
  const Built b = Build(SubtitlePreset::kMedium, plane, true);
  ASSERT_EQ(b.result, kSubtitleOk);
  const SubtitleRecord h = test::HeaderOf(b.packet.get());
  EXPECT_GE(int{h.x1}, 64);
  EXPECT_LE(int{h.x2}, 895);
  EXPECT_EQ(h.height % 2, 0);
  EXPECT_LT(int{h.height}, 40);
  EXPECT_EQ(int{h.y2}, 669);  // the area's bottom, the top being even
  const PixelPlane back = test::DecodePacket(b.packet.get(), b.length, true);
  const uint32_t mid = back.width / 2;
  EXPECT_EQ(std::vector<uint8_t>({back.At(1, 0), back.At(2, 0), back.At(mid, 0), back.At(mid, h.height - 1)}),
            std::vector<uint8_t>({kPixelClear, kPixelOutline, kPixelText, kPixelText}));
}

TEST(SubtitlePacket, LengthBeyondSixteenBitsHandsOutNothing) {
  PixelPlane plane(2000, 100);
  for (uint32_t y = 0; y < plane.height; ++y)
    for (uint32_t x = 0; x < plane.width; ++x) plane.Ref(x, y) = 1 + (x % 2);
  const Built b = Build(SubtitlePreset::kLarge, plane, false);
  EXPECT_EQ(b.result, kSubtitlePacketTooLong);
  EXPECT_EQ(b.packet, nullptr);
}

}  // namespace
}  // namespace vmf
