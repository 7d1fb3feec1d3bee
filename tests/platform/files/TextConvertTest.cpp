#include <gtest/gtest.h>

#include "platform/files/TextConvert.h"

using namespace VexaFiles;

// Converts into `capacity` units followed by guard units that must stay untouched.
struct Guarded {
  std::vector<char16_t> units;
  size_t capacity;
  explicit Guarded(size_t capacityUnits) : units(capacityUnits + 8, 0xA5A5), capacity(capacityUnits) {}
  ptrdiff_t From(const std::string& utf8, Utf8OutOfRange policy = Utf8OutOfRange::Reject) {
    return Utf8ToUtf16(utf8.data(), utf8.size(), units.data(), capacity, policy);
  }
  bool GuardIntact() const { return std::all_of(units.begin() + capacity, units.end(), [](char16_t u) { return u == 0xA5A5; }); }
};

TEST(Utf8ToUtf16, ConvertsEachLengthAndNeverWritesPastTheOutputNorSplitsAPair) {
  Guarded out(16);
  ASSERT_EQ(out.From("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"), 9);
  EXPECT_EQ(std::u16string(out.units.data()), u"\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF");
  EXPECT_TRUE(out.GuardIntact() && out.From("") == 0 && out.units[0] == 0);
  for (size_t capacity = 0; capacity <= 5; ++capacity) {  // 4 units + terminator = 5
    Guarded small(capacity);
    EXPECT_EQ(small.From("ab\xF0\x9F\x98\x80"), capacity == 5 ? ptrdiff_t{4} : ptrdiff_t{kConvertNoRoom}) << capacity;
    EXPECT_TRUE(small.GuardIntact()) << capacity;
  }
}

// Stray and missing continuations, overlong forms, five- and six-byte forms, FE and FF are refused
// whatever the policy; surrogates and values above U+10FFFF are refused or replaced.
TEST(Utf8ToUtf16, IllFormedInputIsRejectedOutOfRangeReplacedOnRequest) {
  for (const std::string input :
       {"\x80", "a\xBF", "\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xC3\x41", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF",
        "\xF0\x8F\xBF\xBF", "\xF8\x88\x80\x80\x80", "\xFC\x84\x80\x80\x80\x80", "\xFE", "\xFF"}) {
    for (Utf8OutOfRange policy : {Utf8OutOfRange::Reject, Utf8OutOfRange::Replace}) {
      Guarded out(16);
      EXPECT_EQ(out.From(input, policy), kConvertIllFormed) << input.size();
      EXPECT_TRUE(out.units[0] == 0 && out.GuardIntact());
    }
    std::u16string text = u"keep";
    EXPECT_TRUE(!Utf8ToUtf16String(input, text) && text.empty());
  }
  for (const std::string input : {"\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF7\xBF\xBF\xBF"}) {
    Guarded out(8);
    EXPECT_EQ(out.From(input), kConvertIllFormed);
    EXPECT_EQ(out.From("a" + input, Utf8OutOfRange::Replace), 2);
    EXPECT_EQ(std::u16string(out.units.data()), u"a\uFFFD");
  }
}

TEST(Utf16ToCodePoints, CombinesPairsStopsAtALoneSurrogateAndReadsAtMostTheLimit) {
  const std::pair<std::u16string, ptrdiff_t> cases[] = {{u"a\U0001F600\u00E9\U0010FFFF", 4},
                                                        {std::u16string{u'a', char16_t(0xDC00), u'b'}, 1},
                                                        {std::u16string{u'a', u'b', char16_t(0xD83D), u'c'}, 2},
                                                        {std::u16string{u'a', char16_t(0xD83D)}, 1}};
  for (const auto& [text, points] : cases) {
    char32_t out[8];
    EXPECT_EQ(Utf16ToCodePoints(text.data(), text.size(), out, 8), points);
    EXPECT_EQ(out[points], 0u);
  }
  char32_t three[3];
  EXPECT_EQ(Utf16ToCodePoints(u"abc", 3, three, 3), kConvertNoRoom);  // no room for the terminator
  std::u16string text(kMaxUtf16Units + 10, u'x');
  std::vector<char32_t> out(kMaxUtf16Units + 20, 0xFFFFFFFF);
  size_t consumed = 0;
  EXPECT_EQ(Utf16ToCodePoints(text.data(), text.size(), out.data(), out.size(), &consumed), ptrdiff_t(kMaxUtf16Units));
  EXPECT_TRUE(consumed == kMaxUtf16Units && out[kMaxUtf16Units + 1] == 0xFFFFFFFFu);
}

TEST(TextConvert, CodePointsToUtf8NarrowCopiesAndRoundTrips) {
  char bytes[4];
  const std::pair<char32_t, int> lengths[] = {{0x41, 1}, {0x7FF, 2}, {0xFFFF, 3}, {0x10FFFF, 4}, {0x110000, 0}, {0xD800, 0}};
  for (auto [point, length] : lengths) EXPECT_EQ(CodePointToUtf8(point, bytes), length) << uint32_t(point);
  const char16_t text[] = {u'a', 0x0142, 0x20AC, u'z', 0};
  char small[3];
  EXPECT_EQ(WideToNarrow(text, 4, small, sizeof small), 2);  // low bytes, cut to fit
  EXPECT_EQ(std::string(small), "a\x42");
  std::string narrow;
  std::u16string wide;
  ASSERT_TRUE(Utf16ToUtf8String(u"x\u00E9\U0001F600", narrow) && Utf8ToUtf16String(narrow, wide));
  EXPECT_EQ(wide, u"x\u00E9\U0001F600");
  const char16_t lone[] = {u'a', 0xDC00};
  EXPECT_TRUE(!Utf16ToUtf8String(std::u16string_view(lone, 2), narrow) && narrow.empty());
}
