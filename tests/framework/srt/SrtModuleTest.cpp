// The SRT module as layer 2 reaches it: opened by a ".srt" name, its information queries,
// bitmap and text output, seeking, the output switch and the format record.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "framework/ContainerAccess.h"
#include "framework/ModuleRegistry.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "framework/srt/SrtModule.h"
#include "tests/framework/srt/SrtFiles.h"

using namespace srt;

namespace {

constexpr int64_t kSecond = 10000000;
const std::string kCues = "1\n00:00:01,000 --> 00:00:02,000\nA\n\n2\n00:00:03,000 --> 00:00:04,500\nB\nb\n\n"
                          "3\n00:00:05,000 --> 00:00:06,000\n<i></i>\n";

class SrtModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    ::setenv("VEXA_L1LOG_DIR", dir.path().c_str(), 1);
    ASSERT_EQ(vmf::Init(nullptr), VMF_OK);
    ASSERT_EQ(vmf::OpenContainer(&c, srttest::WriteSrt(dir, "cues.srt", kCues).c_str(), nullptr), VMF_OK);
  }
  void TearDown() override {
    vmf::CloseContainer(c);
    ::unsetenv("VEXA_L1LOG_DIR");
  }
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

  ProcessTestTools::TempDir dir{"srtmodule"};
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
  EXPECT_EQ(Seek(25000000), std::pair(VMF_OK, 3 * kSecond));  // between A and B: B
  EXPECT_EQ(Text(), "B\nb");
  ASSERT_EQ(SetText(true), VMF_OK);  // a fresh reader: the first cue again
  EXPECT_EQ(Text(), "A");
  EXPECT_EQ(Seek(7 * kSecond), std::pair(int32_t{kSrtEnd}, int64_t{-1}));
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
