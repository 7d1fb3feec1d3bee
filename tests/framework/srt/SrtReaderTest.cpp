// CSRTReader: the cues of a file in each encoding, the cue grammar and its damaged forms, and
// seeking by time.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "framework/srt/SrtReader.h"
#include "platform/files/TextConvert.h"
#include "tests/framework/srt/SrtFiles.h"

using namespace srt;
using namespace srttest;

namespace {

constexpr int64_t kSecond = 10000000;

enum class Bom { kUtf16Le, kUtf16Be, kUtf8, kNone };

// The UTF-8 text in the given encoding, after its byte-order mark unless `marked` is false.
std::string Encode(const std::string& utf8, Bom bom, bool marked = true) {
  if (bom == Bom::kNone || bom == Bom::kUtf8) return (bom == Bom::kUtf8 ? "\xEF\xBB\xBF" : "") + utf8;
  std::u16string wide;
  EXPECT_TRUE(VexaFiles::Utf8ToUtf16String(utf8, wide));
  std::string bytes;
  for (char16_t unit : (marked ? u"\uFEFF" : u"") + wide) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += bom == Bom::kUtf16Le ? std::string{low, high} : std::string{high, low};
  }
  return bytes;
}

struct Cue {
  int64_t start, end;
  std::string text;
  bool operator==(const Cue&) const = default;
};

struct Loaded { int32_t result; std::vector<Cue> cues; SrtEncoding encoding; };

Loaded Load(const std::string& bytes) {
  ProcessTestTools::TempDir dir("srt");
  CSRTReader reader;
  Loaded loaded{reader.Load(WriteSrt(dir, "cues.srt", bytes).c_str()), {}, reader.Encoding()};
  Cue cue;
  char text[kCueTextBytes];
  while (reader.NextCue(&cue.start, &cue.end, text) == kSrtOk) loaded.cues.push_back({cue.start, cue.end, text});
  EXPECT_EQ(reader.NextCue(&cue.start, &cue.end, text), kSrtEnd);
  EXPECT_EQ(Cue({cue.start, cue.end, text}), Cue({0, 0, ""}));
  return loaded;
}

std::string Repeat(const std::string& piece, size_t times) { return times == 0 ? "" : piece + Repeat(piece, times - 1); }

const std::string kTwoCues =
    "1\r\n00:00:01,500 --> 00:00:03,000\r\nCaf\xC3\xA9 \xF0\x9F\x98\x80\r\nsecond line\r\n\r\n"
    "2\r\n01:02:03,004 --> 01:02:04,000\r\n<i>end</i>\r\n";
const std::vector<Cue> kTwoCuesRead = {{15000000, 30000000, "Caf\xC3\xA9 \xF0\x9F\x98\x80\nsecond line"},
                                       {37230040000, 37240000000, "<i>end</i>"}};

TEST(SrtReader, EveryEncodingGivesTheSameCues) {
  const struct { Bom bom; bool marked; SrtEncoding encoding; } rows[] = {
      {Bom::kUtf16Le, true, kSrtUtf16Le}, {Bom::kUtf16Le, false, kSrtUtf16Le}, {Bom::kUtf16Be, true, kSrtUtf16Be},
      {Bom::kUtf16Be, false, kSrtUtf16Be}, {Bom::kUtf8, true, kSrtUtf8Bom}, {Bom::kNone, false, kSrtPlain}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "encoding " << row.encoding << (row.marked ? " with" : " without") << " mark");
    const Loaded loaded = Load(Encode(kTwoCues, row.bom, row.marked));
    EXPECT_EQ(std::pair(loaded.result, loaded.encoding), std::pair(int32_t{kSrtOk}, row.encoding));
    EXPECT_EQ(loaded.cues, kTwoCuesRead);
  }
}

// A cue of the usual timing, 1 s to 2 s.
Cue Usual(const std::string& text) { return {kSecond, 2 * kSecond, text}; }

TEST(SrtReader, CueGrammarAndDamagedFiles) {
  const std::string t = "00:00:01,000 --> 00:00:02,000\n";
  const std::string utf16 = Encode("1\n" + t + "a\n\n2\n" + t + "b", Bom::kUtf16Le);
  const struct { const char* name; std::string bytes; int32_t result; std::vector<Cue> cues; } rows[] = {
      {"dot before milliseconds", "1\n00:00:01.000 --> 00:00:02.000\nA\n\n2\n" + t + "B\n", kSrtOk, {Usual("B")}},
      {"end before start", "1\n00:00:05,000 --> 00:00:04,000\nX\n", kSrtOk, {{5 * kSecond, 5 * kSecond, "X"}}},
      {"eleven lines keep nine", "1\n" + t + "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n", kSrtOk, {Usual("1\n2\n3\n4\n5\n6\n7\n8\n9")}},
      {"empty text skipped", "1\n" + t + "\n2\n" + t + "B\n", kSrtOk, {Usual("B")}},
      {"blank lines everywhere, no final line end", "\n \n\t\n1\n" + t + "A\n\n\n \n2\n" + t + "B", kSrtOk, {Usual("A"), Usual("B")}},
      {"loose spacing, wide blanks, not UTF-8", "1\n 0:0:1,5-->0:0:2, 25 X1:2\nA\n\xC2\xA0\xEF\xBB\xBF\n2\n" + t + "\xFF\n",
       kSrtOk, {{10050000, 20250000, "A"}, Usual("\xFF")}},
      {"hours beyond 64-bit time", "1\n2147483647:00:00,000 --> 2147483647:00:01,000\nA\n\n2\n" + t + "B\n", kSrtOk, {Usual("B")}},
      {"only tags", "1\n" + t + "<b></b>\n", kSrtOk, {Usual("<b></b>")}},
      {"ends after a cue number", "1\n" + t + "A\n\n2\n", kSrtFailed, {Usual("A")}},
      {"UTF-16 with an odd byte count", utf16 + "\x01", kSrtFailed, {Usual("a"), Usual("b")}},
      {"lone surrogates", Encode("1\n" + t, Bom::kUtf16Be) + std::string("\xD8\x01\x00x\xDC\x02", 6), kSrtOk,
       {Usual("\xEF\xBF\xBDx\xEF\xBF\xBD")}},
      {"huge UTF-8 line, text cut at a character", "1\n" + t + "x\n" + Repeat("\xC3\xA9", 3000) + "\n\n2\n" + t + "B\n", kSrtOk,
       {Usual("x\n" + Repeat("\xC3\xA9", 498)), Usual("B")}},
      {"huge UTF-16 line", Encode("1\n" + t + Repeat("\xE2\x82\xAC", 2000) + "\n\n2\n" + t + "B\n", Bom::kUtf16Le), kSrtOk,
       {Usual(Repeat("\xE2\x82\xAC", 333)), Usual("B")}}};
  for (const auto& row : rows) {
    const Loaded loaded = Load(row.bytes);
    EXPECT_EQ(loaded.result, row.result) << row.name;
    EXPECT_EQ(loaded.cues, row.cues) << row.name;
  }
}

TEST(SrtReader, SeekPlacesTheCursorByTime) {
  ProcessTestTools::TempDir dir("srt");
  CSRTReader reader, empty;
  ASSERT_EQ(reader.Load(WriteSrt(dir, "three.srt", "1\n00:00:01,000 --> 00:00:02,000\nA\n\n2\n00:00:03,000 --> "
                                 "00:00:04,000\nB\n\n3\n00:00:05,000 --> 00:00:06,000\nC\n").c_str()), kSrtOk);
  const struct { int64_t target, reached; int32_t result; const char* next; } rows[] = {
      {0, kSecond, kSrtOk, "A"}, {35000000, 3 * kSecond, kSrtOk, "B"}, {25000000, 3 * kSecond, kSrtOk, "B"},
      {6 * kSecond, 5 * kSecond, kSrtOk, "C"}, {7 * kSecond, -1, kSrtEnd, "C"}};
  for (const auto& row : rows) {
    int64_t t = row.target, start = 0, end = 0;
    char text[kCueTextBytes] = {};
    EXPECT_EQ(reader.Seek(&t), row.result) << row.target;
    EXPECT_EQ(t, row.reached) << row.target;
    EXPECT_EQ(reader.NextCue(&start, &end, text), kSrtOk);
    EXPECT_STREQ(text, row.next) << row.target;
  }
  EXPECT_EQ(empty.Load(WriteSrt(dir, "empty.srt", "\n\n").c_str()), kSrtOk);
  int64_t t = 12345;
  EXPECT_EQ(empty.Seek(&t), kSrtEnd);  // nothing to touch
  EXPECT_EQ(t, 12345);
  EXPECT_EQ(empty.Load(dir.Wide("missing.srt").c_str()), kSrtCannotOpen);
}

}  // namespace
