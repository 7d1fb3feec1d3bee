#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files/TextConvert.h"

using namespace VexaFiles;

namespace {

// Converts into a buffer of `capacity` units followed by guard units that must stay untouched.
struct Guarded {
  static constexpr char16_t kGuard = 0xA5A5;
  std::vector<char16_t> units;
  size_t capacity;
  explicit Guarded(size_t capacityUnits) : units(capacityUnits + 8, kGuard), capacity(capacityUnits) {}
  ptrdiff_t From(const std::string& utf8, Utf8OutOfRange policy = Utf8OutOfRange::Reject) {
    return Utf8ToUtf16(utf8.data(), utf8.size(), units.data(), capacity, policy);
  }
  bool GuardIntact() const {
    for (size_t i = capacity; i < units.size(); ++i)
      if (units[i] != kGuard) return false;
    return true;
  }
  std::u16string Text() const { return std::u16string(units.data()); }
};

}  // namespace

TEST(Utf8ToUtf16, ConvertsOneToFourByteSequences) {
  Guarded out(16);
  ASSERT_EQ(out.From("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), 5);
  EXPECT_EQ(out.Text(), std::u16string(u"A\u00E9\u20AC\U0001F600"));
  EXPECT_EQ(out.units[3], 0xD83D);
  EXPECT_EQ(out.units[4], 0xDE00);
  EXPECT_EQ(out.units[5], 0);
  EXPECT_TRUE(out.GuardIntact());
}

TEST(Utf8ToUtf16, ConvertsTheLimitsOfEachLength) {
  Guarded out(16);
  ASSERT_EQ(out.From("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"), 9);
  EXPECT_EQ(out.Text(), std::u16string(u"\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF"));
}

TEST(Utf8ToUtf16, RejectsIllFormedInput) {
  const std::vector<std::string> bad = {
      "\x80",              // stray continuation byte
      "a\xBF",             // stray continuation byte after text
      "\xC3",              // truncated two-byte sequence
      "\xE2\x82",          // truncated three-byte sequence
      "\xF0\x9F\x98",      // truncated four-byte sequence
      "\xC3\x41",          // lead byte followed by a non-continuation
      "\xC0\x80",          // overlong U+0000
      "\xC1\xBF",          // overlong U+007F
      "\xE0\x80\x80",      // overlong three-byte
      "\xE0\x9F\xBF",      // overlong U+07FF
      "\xF0\x80\x80\x80",  // overlong four-byte
      "\xF0\x8F\xBF\xBF",  // overlong U+FFFF
      "\xF8\x88\x80\x80\x80",  // five-byte form
      "\xFC\x84\x80\x80\x80\x80",
      "\xFE", "\xFF",
  };
  for (const auto& input : bad) {
    Guarded out(16);
    out.units[0] = u'x';
    EXPECT_EQ(out.From(input), kConvertIllFormed) << "input length " << input.size();
    EXPECT_EQ(out.units[0], 0);
    EXPECT_TRUE(out.GuardIntact());
    std::u16string text = u"keep";
    EXPECT_FALSE(Utf8ToUtf16String(input, text));
    EXPECT_TRUE(text.empty());
  }
}

TEST(Utf8ToUtf16, RejectsSurrogatesAndValuesAboveTheLastCodePoint) {
  for (const std::string input : {"\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF7\xBF\xBF\xBF"}) {
    Guarded out(8);
    EXPECT_EQ(out.From(input), kConvertIllFormed);
    EXPECT_TRUE(out.GuardIntact());
  }
}

TEST(Utf8ToUtf16, CanReplaceSurrogatesAndValuesAboveTheLastCodePoint) {
  Guarded out(8);
  ASSERT_EQ(out.From("a\xED\xA0\x80" "b\xF5\x80\x80\x80", Utf8OutOfRange::Replace), 4);
  EXPECT_EQ(out.Text(), std::u16string(u"a\uFFFDb\uFFFD"));
  // Other ill-formed input is still rejected.
  Guarded again(8);
  EXPECT_EQ(again.From("\xC0\x80", Utf8OutOfRange::Replace), kConvertIllFormed);
  std::u16string text;
  EXPECT_TRUE(Utf8ToUtf16String("\xED\xB0\x80", text, Utf8OutOfRange::Replace));
  EXPECT_EQ(text, u"\uFFFD");
}

TEST(Utf8ToUtf16, NeverWritesPastTheOutput) {
  const std::string input = "ab\xF0\x9F\x98\x80";  // 4 units + terminator = 5
  for (size_t capacity = 0; capacity < 5; ++capacity) {
    Guarded out(capacity);
    EXPECT_EQ(out.From(input), kConvertNoRoom) << capacity;
    EXPECT_TRUE(out.GuardIntact()) << capacity;
    if (capacity > 0) {
      EXPECT_EQ(out.units[0], 0);
    }
  }
  Guarded exact(5);
  EXPECT_EQ(exact.From(input), 4);
  EXPECT_TRUE(exact.GuardIntact());
  // A pair never gets split at the end of the output.
  Guarded three(3);
  EXPECT_EQ(three.From("a\xF0\x9F\x98\x80"), kConvertNoRoom);
  EXPECT_TRUE(three.GuardIntact());
}

TEST(Utf8ToUtf16, EmptyInputGivesAnEmptyString) {
  Guarded out(1);
  EXPECT_EQ(out.From(""), 0);
  EXPECT_EQ(out.units[0], 0);
  EXPECT_EQ(Utf8ToUtf16(nullptr, 0, out.units.data(), 1), 0);
}

TEST(Utf16ToCodePoints, CombinesPairs) {
  const std::u16string text = u"a\U0001F600\u00E9\U0010FFFF";
  char32_t out[8];
  size_t consumed = 0;
  ASSERT_EQ(Utf16ToCodePoints(text.data(), text.size(), out, 8, &consumed), 4);
  EXPECT_EQ(consumed, text.size());
  EXPECT_EQ(out[0], U'a');
  EXPECT_EQ(out[1], 0x1F600u);
  EXPECT_EQ(out[2], 0xE9u);
  EXPECT_EQ(out[3], 0x10FFFFu);
  EXPECT_EQ(out[4], 0u);
}

TEST(Utf16ToCodePoints, StopsAtALoneSurrogate) {
  char32_t out[8];
  size_t consumed = 0;
  const char16_t lowFirst[] = {u'a', 0xDC00, u'b', 0};
  EXPECT_EQ(Utf16ToCodePoints(lowFirst, 3, out, 8, &consumed), 1);
  EXPECT_EQ(consumed, 1u);
  EXPECT_EQ(out[1], 0u);
  const char16_t highAlone[] = {u'a', u'b', 0xD83D, u'c', 0};
  EXPECT_EQ(Utf16ToCodePoints(highAlone, 4, out, 8, &consumed), 2);
  EXPECT_EQ(consumed, 2u);
  const char16_t highAtEnd[] = {u'a', 0xD83D};
  EXPECT_EQ(Utf16ToCodePoints(highAtEnd, 2, out, 8, &consumed), 1);
}

TEST(Utf16ToCodePoints, ReadsAtMostTheLimit) {
  std::u16string text(kMaxUtf16Units + 10, u'x');
  std::vector<char32_t> out(kMaxUtf16Units + 20, 0xFFFFFFFF);
  size_t consumed = 0;
  EXPECT_EQ(Utf16ToCodePoints(text.data(), text.size(), out.data(), out.size(), &consumed),
            static_cast<ptrdiff_t>(kMaxUtf16Units));
  EXPECT_EQ(consumed, kMaxUtf16Units);
  EXPECT_EQ(out[kMaxUtf16Units], 0u);
  EXPECT_EQ(out[kMaxUtf16Units + 1], 0xFFFFFFFFu);
}

TEST(Utf16ToCodePoints, NeverWritesPastTheOutput) {
  const std::u16string text = u"abc";
  char32_t out[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_EQ(Utf16ToCodePoints(text.data(), 3, out, 3), kConvertNoRoom);
  EXPECT_EQ(out[3], 9u);
  EXPECT_EQ(Utf16ToCodePoints(text.data(), 3, out, 0), kConvertNoRoom);
  EXPECT_EQ(Utf16ToCodePoints(text.data(), 3, out, 4), 3);
}

TEST(CodePointToUtf8, EncodesOneToFourBytes) {
  char bytes[4];
  EXPECT_EQ(CodePointToUtf8(0x41, bytes), 1);
  EXPECT_EQ(CodePointToUtf8(0x7FF, bytes), 2);
  EXPECT_EQ(std::string(bytes, 2), "\xDF\xBF");
  EXPECT_EQ(CodePointToUtf8(0xFFFF, bytes), 3);
  EXPECT_EQ(CodePointToUtf8(0x1F600, bytes), 4);
  EXPECT_EQ(std::string(bytes, 4), "\xF0\x9F\x98\x80");
  EXPECT_EQ(CodePointToUtf8(0x10FFFF, bytes), 4);
  EXPECT_EQ(CodePointToUtf8(0x110000, bytes), 0);
  EXPECT_EQ(CodePointToUtf8(0xD800, bytes), 0);
}

TEST(WideToNarrow, KeepsTheLowByte) {
  const char16_t text[] = {u'a', 0x0142, 0x20AC, u'z', 0};
  char out[8];
  EXPECT_EQ(WideToNarrow(text, 4, out, sizeof out), 4);
  EXPECT_EQ(std::string(out), std::string("a\x42\xAC" "z"));
  char small[3];
  EXPECT_EQ(WideToNarrow(text, 4, small, sizeof small), 2);
  EXPECT_EQ(small[2], 0);
  EXPECT_EQ(WideToNarrow(text, 4, small, 0), kConvertNoRoom);
}

TEST(Utf16ToUtf8String, RoundTripsAndRejectsLoneSurrogates) {
  std::string narrow;
  ASSERT_TRUE(Utf16ToUtf8String(u"x\u00E9\U0001F600", narrow));
  EXPECT_EQ(narrow, "x\xC3\xA9\xF0\x9F\x98\x80");
  std::u16string wide;
  ASSERT_TRUE(Utf8ToUtf16String(narrow, wide));
  EXPECT_EQ(wide, u"x\u00E9\U0001F600");
  const char16_t lone[] = {u'a', 0xDC00};
  narrow = "keep";
  EXPECT_FALSE(Utf16ToUtf8String(std::u16string_view(lone, 2), narrow));
  EXPECT_TRUE(narrow.empty());
  const char16_t high[] = {u'a', 0xD800, u'b'};
  EXPECT_FALSE(Utf16ToUtf8String(std::u16string_view(high, 3), narrow));
}
