// CSRTReader: the cues of a file in each encoding, the cue grammar and its damaged forms. The
// SRT module as layer 2 reaches it: opened by a ".srt" name, its information queries, bitmap and
// text output, seeking by time, the output switch and the format record.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <utility>
#include <vector>

#include "framework/ContainerAccess.h"
#include "framework/ModuleRegistry.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "framework/srt/SrtModule.h"
#include "framework/srt/SrtReader.h"
#include "tests/support/ProcessTestTools.h"

using namespace srt;

namespace {

constexpr int64_t kSecond = 10000000;

enum class Bom { kUtf16Le, kUtf16Be, kUtf8, kNone };

// The UTF-8 text in the given encoding, after its byte-order mark unless `marked` is false.
std::string Encode(const std::string& utf8, Bom bom, bool marked = true) {
  if (bom == Bom::kNone || bom == Bom::kUtf8) return (bom == Bom::kUtf8 ? "\xEF\xBB\xBF" : "") + utf8;
  std::string bytes;
  for (char16_t unit : (marked ? u"\uFEFF" : u"") + ProcessTestTools::Wide(utf8)) {
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
  Loaded loaded{reader.Load(dir.Write("cues.srt", bytes).c_str()), {}, reader.Encoding()};
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

// A cue of the usual timing, 1 s to 2 s.
Cue Usual(const std::string& text) { return {kSecond, 2 * kSecond, text}; }

// Every encoding gives the same cues; the cue grammar, and damaged files.
TEST(SrtReader, EncodingsCueGrammarAndDamagedFiles) {
  const std::string t = "00:00:01,000 --> 00:00:02,000\n";
  const std::string utf16 = Encode("1\n" + t + "a\n\n2\n" + t + "b", Bom::kUtf16Le);
  const struct { const char* name; std::string bytes; int32_t result; std::vector<Cue> cues; SrtEncoding encoding = kSrtPlain; } rows[] = {
      {"UTF-16LE", Encode(kTwoCues, Bom::kUtf16Le), kSrtOk, kTwoCuesRead, kSrtUtf16Le},
      {"UTF-16LE without mark", Encode(kTwoCues, Bom::kUtf16Le, false), kSrtOk, kTwoCuesRead, kSrtUtf16Le},
      {"UTF-16BE", Encode(kTwoCues, Bom::kUtf16Be), kSrtOk, kTwoCuesRead, kSrtUtf16Be},
      {"UTF-16BE without mark", Encode(kTwoCues, Bom::kUtf16Be, false), kSrtOk, kTwoCuesRead, kSrtUtf16Be},
      {"UTF-8", Encode(kTwoCues, Bom::kUtf8), kSrtOk, kTwoCuesRead, kSrtUtf8Bom},
      {"plain", kTwoCues, kSrtOk, kTwoCuesRead},
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
      {"UTF-16 with an odd byte count", utf16 + "\x01", kSrtFailed, {Usual("a"), Usual("b")}, kSrtUtf16Le},
      {"lone surrogates", Encode("1\n" + t, Bom::kUtf16Be) + std::string("\xD8\x01\x00x\xDC\x02", 6), kSrtOk,
       {Usual("\xEF\xBF\xBDx\xEF\xBF\xBD")}, kSrtUtf16Be},
      {"huge UTF-8 line, text cut at a character", "1\n" + t + "x\n" + Repeat("\xC3\xA9", 3000) + "\n\n2\n" + t + "B\n", kSrtOk,
       {Usual("x\n" + Repeat("\xC3\xA9", 498)), Usual("B")}},
      {"huge UTF-16 line", Encode("1\n" + t + Repeat("\xE2\x82\xAC", 2000) + "\n\n2\n" + t + "B\n", Bom::kUtf16Le), kSrtOk,
       {Usual(Repeat("\xE2\x82\xAC", 333)), Usual("B")}, kSrtUtf16Le}};
  for (const auto& row : rows) {
    const Loaded loaded = Load(row.bytes);
    EXPECT_EQ(std::pair(loaded.result, loaded.encoding), std::pair(row.result, row.encoding)) << row.name;
    EXPECT_EQ(loaded.cues, row.cues) << row.name;
  }
}

// Seeking by time is shown through the module, which hands it to the reader.
TEST(SrtReader, AnEmptyFileHasNothingToSeek) {
  ProcessTestTools::TempDir dir("srt");
  CSRTReader empty;
  EXPECT_EQ(empty.Load(dir.Write("empty.srt", "\n\n").c_str()), kSrtOk);
  int64_t t = 12345;
  EXPECT_EQ(empty.Seek(&t), kSrtEnd);
  EXPECT_EQ(t, 12345);
}

const std::string kCues = "1\n00:00:01,000 --> 00:00:02,000\nA\n\n2\n00:00:03,000 --> 00:00:04,500\nB\nb\n\n"
                          "3\n00:00:05,000 --> 00:00:06,000\n<i></i>\n";

class SrtModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(vmf::Init(nullptr), VMF_OK);
    ASSERT_EQ(vmf::OpenContainer(&c, dir.Write("cues.srt", kCues).c_str(), nullptr), VMF_OK);
  }
  void TearDown() override { vmf::CloseContainer(c); }
  // Settings go to the module through the entry table of the container's file.
  int32_t Set(uint32_t qid, VmfQueryValue value) {
    const VmfModuleDescriptor* module = nullptr;
    EXPECT_EQ(vmf::FindModule(c->files[0]->moduleId, &module), VMF_OK);
    return module->entries->setInfo(c->files[0]->moduleHandle, qid, &value, 0);
  }
  int32_t SetText(bool on) { return Set(VMF_QID_SET_SRT_OUTPUT_TEXT, {0, 0, {.bytes = {on}}}); }
  int32_t Get(uint32_t qid, VmfQueryValue* v, void* buffer = nullptr, uint32_t size = 0) {
    *v = {0, size, {.ptr = buffer}};
    return vmf::GetInfo(c, qid, v, 0);
  }
  SubtitleFormat Format() {
    SubtitleFormat f{};
    VmfQueryValue v;
    return Get(VMF_QID_SUB_STREAM_FORMAT, &v, &f, sizeof f) == VMF_OK ? f : SubtitleFormat{};
  }
  int32_t Read(uint32_t capacity = sizeof buffer) {
    block = {buffer, 0, capacity, 0, 0, 0, nullptr, nullptr, {}};
    return vmf::ReadNextBlockByStream(c, VMF_BLOCK_SUBTITLE, 0, &block);
  }
  std::pair<int32_t, int64_t> Seek(int64_t t) { return {vmf::SetPosition(c, VMF_BLOCK_SUBTITLE, 0, &t), t}; }
  std::string Text() { return Read() == VMF_OK ? std::string(reinterpret_cast<char*>(buffer), block.size) : "-"; }

  ProcessTestTools::TraceDir dir{"srtmodule"};
  VmfContainer* c = nullptr;
  VmfBlock block{};
  uint8_t buffer[65536];
};

TEST_F(SrtModuleTest, AnswersItsInformationQueries) {
  const struct { uint32_t qid; uint16_t count; } counts[] = {
      {VMF_QID_NUM_CONTAINER_TITLE, 1}, {VMF_QID_NUM_TITLE_STREAMS, 1}, {VMF_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA, 1},
      {VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA, 0}, {VMF_QID_NUM_ACTIVE_TITLE_STREAMS, 0}, {VMF_QID_SET_SRT_OUTPUT_TEXT, 0}};
  VmfQueryValue v;
  for (const auto& row : counts) {
    EXPECT_EQ(Get(row.qid, &v), VMF_OK) << VmfQidName(row.qid);
    EXPECT_EQ(v.value.u16, row.count) << VmfQidName(row.qid);
  }
  const SubtitleFormat f = Format();
  EXPECT_EQ(std::string(f.codec, 8), "VEXAVESB");
  EXPECT_EQ(std::vector<int32_t>({f.width, f.height, f.bitsPerPixel, f.bitmapBytes}), std::vector<int32_t>({640, 480, 4, 153600}));
  uint8_t record[1056];
  const struct { uint32_t qid, size; int32_t result; std::vector<uint8_t> head; } props[] = {
      {VMF_QID_GET_CONTAINER_PROP, 8, VMF_OK, {16, 0, 0, 0, 1, 0, 0, 0}}, {VMF_QID_GET_SUBTITLE_MEDIA_PROP, 1056, VMF_OK, {16, 0, 0}},
      {VMF_QID_GET_TITLE_PROP, 16, VMF_OK, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}},
      {VMF_QID_GET_TITLE_MEDIA_PROP, 8, VMF_OK, {0, 0, 0, 0, 0, 0, 1, 0}}, {VMF_QID_CONTAINER_MUX_APP, 1056, VMF_ERR_INVALID_QUERY_ID, {}},
      {VMF_QID_GET_SUBTITLE_MEDIA_PROP, 1055, VMF_OUT_OF_MEMORY, {}}};
  for (const auto& row : props) {
    std::memset(record, 0xEE, sizeof record);
    EXPECT_EQ(Get(row.qid, &v, record, row.size), row.result) << VmfQidName(row.qid);
    EXPECT_EQ(std::vector<uint8_t>(record, record + row.head.size()), row.head) << VmfQidName(row.qid);
  }
}

TEST_F(SrtModuleTest, BitmapOutputDrawsEachCueIntoAPacket) {
  EXPECT_EQ(Seek(5 * kSecond), std::pair(VMF_OK, 5 * kSecond));  // no seeking in bitmap output
  EXPECT_EQ(Read(60), VMF_ERR_BLOCK_BUFFER_TOO_SMALL);  // the cue waits for a larger buffer
  const uint32_t needed = block.size;
  // The last cue, only tags, draws nothing: its packet holds an empty 8 x 4 box.
  const struct { const char* times; int64_t start, end; bool drawn; } cues[] = {
      {"[00:00:01.000-00:00:02.000]", kSecond, 2 * kSecond, true}, {"[00:00:03.000-00:00:04.500]", 3 * kSecond, 45000000, true},
      {"[00:00:05.000-00:00:06.000]", 5 * kSecond, 6 * kSecond, false}};
  for (const auto& cue : cues) {
    SCOPED_TRACE(cue.times);
    ASSERT_EQ(Read(), VMF_OK);
    vmf::SubtitleRecord header;
    std::memcpy(&header, buffer, sizeof header);
    EXPECT_EQ(std::string(header.timeText, sizeof header.timeText), cue.times);
    EXPECT_EQ(header.width > 8 && header.height > 4, cue.drawn);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(header.colours), 12), std::string(6, '\0') + std::string(6, '\xFE'));
    EXPECT_EQ(std::vector<int64_t>({block.time, block.time + block.duration}), std::vector<int64_t>({cue.start, cue.end}));
    EXPECT_TRUE(&cue != &cues[0] || block.size == needed);  // the same cue as the refused read
  }
  EXPECT_EQ(Read(), kSrtEnd);
  SubtitleFormat f = Format();
  f.width = f.height = 100;  // no display area for this frame
  ASSERT_EQ(SetText(false), VMF_OK);
  ASSERT_EQ(Set(VMF_QID_SUB_STREAM_FORMAT, {0, sizeof f, {.ptr = &f}}), VMF_OK);
  EXPECT_EQ(Read(), VMF_ERR_BLOCK_READ_FAILURE);
}

TEST_F(SrtModuleTest, TextOutputHandsOutCuesAndSeeks) {
  ASSERT_EQ(SetText(true), VMF_OK);
  EXPECT_EQ(std::string(Format().subType, 4), "VETX");
  EXPECT_EQ(Read(999), VMF_ERR_BLOCK_BUFFER_TOO_SMALL);  // the cue is kept, not lost
  EXPECT_EQ(block.size, 1000u);
  EXPECT_EQ(Text(), "A");
  EXPECT_EQ(Text(), "B\nb");
  EXPECT_EQ(std::vector<int64_t>({block.time, block.duration}), std::vector<int64_t>({3 * kSecond, 15000000}));
  EXPECT_EQ(Text(), "<i></i>");
  EXPECT_EQ(Read(), VMF_FAILED);
  // Before the first cue, inside one, between two, at the last one's end; past it the last
  // cue stays next.
  const struct { int64_t target; std::pair<int32_t, int64_t> reached; const char* next; } seeks[] = {
      {0, {VMF_OK, kSecond}, "A"}, {35000000, {VMF_OK, 3 * kSecond}, "B\nb"}, {25000000, {VMF_OK, 3 * kSecond}, "B\nb"},
      {6 * kSecond, {VMF_OK, 5 * kSecond}, "<i></i>"}, {7 * kSecond, {kSrtEnd, -1}, "<i></i>"}};
  for (const auto& row : seeks) {
    EXPECT_EQ(Seek(row.target), row.reached) << row.target;
    EXPECT_EQ(Text(), row.next) << row.target;
  }
  ASSERT_EQ(SetText(true), VMF_OK);  // a fresh reader: the first cue again
  EXPECT_EQ(Text(), "A");
}

TEST_F(SrtModuleTest, SettingTheFormatRecomputesTheBitmapSizeAndAMissingFileFails) {
  const struct { int32_t width, height, bitmapBytes; } rows[] = {{960, 720, 345600}, {65536, 65537, 32768}, {-2, 3, -3}};
  for (const auto& row : rows) {
    SubtitleFormat f = Format();
    std::tie(f.width, f.height) = std::tie(row.width, row.height);
    EXPECT_EQ(Set(VMF_QID_SUB_STREAM_FORMAT, {0, sizeof f, {.ptr = &f}}), VMF_OK);
    EXPECT_EQ(Format().bitmapBytes, row.bitmapBytes) << row.width;
    EXPECT_EQ(Set(VMF_QID_SUB_STREAM_FORMAT, {0, sizeof f - 1, {.ptr = &f}}), VMF_OUT_OF_MEMORY);
  }
  VmfContainer* missing = nullptr;
  EXPECT_EQ(vmf::OpenContainer(&missing, dir.Wide("missing.srt").c_str(), nullptr), kSrtCannotOpen);
  vmf::CloseContainer(missing);
}

}  // namespace
