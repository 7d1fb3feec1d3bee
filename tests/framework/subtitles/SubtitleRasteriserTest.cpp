// Rendering cues with DejaVu Sans: what the bitmap holds, how line feeds, tags and odd text
// change it, the packet made from it, and the failures a caller sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "framework/subtitles/SubtitlePacket.h"
#include "tests/framework/subtitles/SubtitleTestSupport.h"

namespace vmf {
namespace {

struct Rendered {
  int32_t result = kSubtitleBadArgument;
  PixelPlane plane;
  std::string time;
};

Rendered Render(const char* text, const char16_t* font = nullptr) {
  SubtitleRasteriserPtr context;
  EXPECT_EQ(CreateSubtitleRasteriser(font, &context), kSubtitleOk);
  Rendered r;
  uint32_t width = 640, height = 480;
  SubtitleBytes bitmap;
  char time[kTimeTextSize] = {};
  int check = 0;
  r.result = RenderSubtitle(context.get(), 640, 480, &width, &height, &bitmap, &check, time, text, 0, 10'000'000);
  EXPECT_EQ(r.result == kSubtitleOk, bitmap != nullptr);
  if (bitmap) r.plane = UnpackFourBit(bitmap.get(), width, height);
  r.time = time;
  return r;
}

size_t CountOf(const PixelPlane& p, uint8_t value) { return std::count(p.values.begin(), p.values.end(), value); }

TEST(SubtitleRender, ShortCueIsWhiteTextInAnOutlineRingAndItsPacketRoundTrips) {
  const Rendered r = Render("Hi");
  ASSERT_EQ(r.result, kSubtitleOk);
  EXPECT_EQ(r.time, "[00:00:00.000-00:00:01.000]");
  EXPECT_GT(CountOf(r.plane, kPixelText), 50u);
  EXPECT_GT(CountOf(r.plane, kPixelOutline), 50u);
  EXPECT_EQ(CountOf(r.plane, kPixelClear) + CountOf(r.plane, kPixelOutline) + CountOf(r.plane, kPixelText),
            r.plane.values.size());
  for (uint32_t y = 0; y < r.plane.height; ++y) {  // each row meets the ring before the fill
    const auto row = r.plane.values.begin() + y * r.plane.width;
    const auto first = std::find_if(row, row + r.plane.width, [](uint8_t v) { return v != kPixelClear; });
    if (first != row + r.plane.width) {
      EXPECT_EQ(*first, kPixelOutline) << "row " << y;
    }
  }

  SubtitleRecord record{};
  record.width = static_cast<uint16_t>(r.plane.width);
  record.height = static_cast<uint16_t>(r.plane.height);
  const SubtitleBytes bitmap = PackFourBit(r.plane);
  uint16_t length = 0;
  SubtitleBytes packet;
  ASSERT_EQ(BuildSubtitlePacket(SubtitlePreset::kSmall, bitmap.get(), record, &length, &packet, true), kSubtitleOk);
  const PixelPlane back = test::DecodePacket(packet.get(), length, false);
  const PixelPlane expected = CropPadded(r.plane, FindEvenBox(r.plane));
  EXPECT_EQ(back.values, expected.values);
}

enum class Expect { kTaller, kWider, kSame, kMoreText, kNoText, kNothingDrawn };
struct RenderCase {
  const char* name;
  const char* text;
  const char* against;
  Expect expect;
};

TEST(SubtitleRender, LineFeedsTagsAndOddTextChangeTheBitmapAsTheyShould) {
  const RenderCase cases[] = {
      {"line feed starts a line", "Hi\nHi", "Hi", Expect::kTaller},
      {"carriage return changes nothing", "Hi\r\nHi", "Hi\nHi", Expect::kSame},
      {"bold is heavier", "<b>Hi</b>", "Hi", Expect::kMoreText},
      {"underline goes below", "<u>Hi</u>", "Hi", Expect::kTaller},
      {"size scales", "<font size=\"64\">Hi</font>", "Hi", Expect::kTaller},
      {"italic leans", "<i>Hi</i>", "Hi", Expect::kWider},
      {"lone < is text", "Hi <", "Hi", Expect::kWider},
      {"unknown tag dropped", "H<x>i", "Hi", Expect::kSame},
      {"black text", "<FONT Color='#000000'>Hi</font>", "Hi", Expect::kNoText},
      {"colour needs six digits", "<font color=\"#00000\">Hi</font>", "Hi", Expect::kSame},
      {"invalid UTF-8 stays in bounds", "Hi\xC3", "Hi", Expect::kWider},
      {"only tags", "<i><b></b></i>", "", Expect::kNothingDrawn},
  };
  for (const RenderCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Rendered r = Render(c.text);
    const Rendered base = Render(c.against);
    ASSERT_EQ(r.result, kSubtitleOk);
    switch (c.expect) {
      case Expect::kTaller: EXPECT_GT(r.plane.height, base.plane.height); break;
      case Expect::kWider: EXPECT_GT(r.plane.width, base.plane.width); break;
      case Expect::kSame: EXPECT_EQ(r.plane.values, base.plane.values); break;
      case Expect::kMoreText: EXPECT_GT(CountOf(r.plane, kPixelText), CountOf(base.plane, kPixelText)); break;
      case Expect::kNoText:
        EXPECT_EQ(CountOf(r.plane, kPixelText), 0u);
        EXPECT_GT(CountOf(r.plane, kPixelOutline), 0u);
        break;
      case Expect::kNothingDrawn:
        EXPECT_EQ(r.plane.width, kEmptyBitmapSide);
        EXPECT_EQ(CountOf(r.plane, kPixelClear), r.plane.values.size());
        break;
    }
  }
}

TEST(SubtitleRender, FontsThatCannotBeLoadedAndMissingArgumentsAreRefused) {
  EXPECT_EQ(Render("Hi", u"/nonexistent/font.ttf").result, kSubtitleFontFailed);
  EXPECT_EQ(Render("Hi", u"/etc/hostname").result, kSubtitleFontFailed);

  SubtitleRasteriserPtr context;
  ASSERT_EQ(CreateSubtitleRasteriser(u"/nonexistent/font.ttf", &context), kSubtitleOk);
  ASSERT_EQ(SetSubtitleFont(context.get(), nullptr), kSubtitleOk);  // back to the default font
  uint32_t width = 640, height = 480;
  SubtitleBytes bitmap;
  char time[kTimeTextSize];
  int check = 0;
  EXPECT_EQ(RenderSubtitle(context.get(), 640, 480, &width, &height, &bitmap, nullptr, time, "Hi", 0, 0),
            kSubtitleBadArgument);
  EXPECT_EQ(RenderSubtitle(context.get(), 640, 480, &width, &height, &bitmap, &check, time, "Hi", 0, 0), kSubtitleOk);
}

}  // namespace
}  // namespace vmf
