// Rendering cues with DejaVu Sans: how line feeds, tags and odd text change the bitmap, and the
// failures a caller sees, a packet too long among them. (What a bitmap holds pixel for pixel: the
// golden pictures.)
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/framework/subtitles/SubtitleCuePacket.h"

namespace vmf {
namespace {

// The cue drawn for a 640 x 480 frame with the given font, and built into a packet.
test::CuePacket Render(const char* text, const char16_t* font = nullptr) {
  SubtitleRasteriserPtr context;
  EXPECT_EQ(CreateSubtitleRasteriser(font, &context), kSubtitleOk);
  return test::DrawCuePacket(context.get(), text, 640, 480);
}

size_t CountOf(const PixelPlane& p, uint8_t value) { return std::count(p.values.begin(), p.values.end(), value); }

enum class Expect { kTaller, kWider, kSame, kMoreText, kNoText, kNothingDrawn };

TEST(SubtitleRender, LineFeedsTagsAndOddTextChangeTheBitmapAsTheyShould) {
  const struct { const char* name; const char* text; const char* against; Expect expect; } cases[] = {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const test::CuePacket r = Render(c.text);
    const test::CuePacket base = Render(c.against);
    ASSERT_EQ(r.result, kSubtitleOk);
    switch (c.expect) {
      case Expect::kTaller: EXPECT_GT(r.bitmap.height, base.bitmap.height); break;
      case Expect::kWider: EXPECT_GT(r.bitmap.width, base.bitmap.width); break;
      case Expect::kSame: EXPECT_EQ(r.bitmap.values, base.bitmap.values); break;
      case Expect::kMoreText: EXPECT_GT(CountOf(r.bitmap, kPixelText), CountOf(base.bitmap, kPixelText)); break;
      case Expect::kNoText:
        EXPECT_EQ(CountOf(r.bitmap, kPixelText), 0u);
        EXPECT_GT(CountOf(r.bitmap, kPixelOutline), 0u);
        break;
      case Expect::kNothingDrawn:
        EXPECT_EQ(r.bitmap.width, kEmptyBitmapSide);
        EXPECT_EQ(CountOf(r.bitmap, kPixelClear), r.bitmap.values.size());
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

  // A bitmap whose packet would pass 16 bits of length gives no packet.
  PixelPlane stripes(2000, 100);
  for (size_t i = 0; i < stripes.values.size(); ++i) stripes.values[i] = 1 + i % 2;
  uint16_t length = 0;
  SubtitleBytes packet;
  EXPECT_EQ(BuildSubtitlePacket(SubtitlePreset::kLarge, PackFourBit(stripes).get(), test::CueRecord(2000, 100, time),
                                &length, &packet, false),
            kSubtitlePacketTooLong);
  EXPECT_EQ(packet, nullptr);
}

}  // namespace
}  // namespace vmf
