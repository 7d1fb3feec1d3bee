// The SRT module as layer 2 reaches it: opened by a ".srt" name, its information queries,
// text output with seeking, the output switch and the format record.
#include <gtest/gtest.h>

#include <cstring>

#include "framework/ContainerAccess.h"
#include "framework/ModuleRegistry.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "framework/srt/SrtModule.h"
#include "tests/framework/srt/SrtFiles.h"

using namespace srt;
using namespace srttest;

namespace {

constexpr int64_t kSecond = 10000000;
const std::string kThreeCues =
    "1\n00:00:01,000 --> 00:00:02,000\nA\n\n2\n00:00:03,000 --> 00:00:04,500\nB\nb\n\n"
    "3\n00:00:05,000 --> 00:00:06,000\nC\n";

class SrtModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    ::setenv("VEXA_L1LOG_DIR", dir.path().c_str(), 1);
    ASSERT_EQ(vmf::Init(nullptr), VMF_OK);
  }
  void TearDown() override {
    if (c != nullptr) vmf::CloseContainer(c);
    ::unsetenv("VEXA_L1LOG_DIR");
  }
  int32_t Open(const std::string& bytes) { return vmf::OpenContainer(&c, WriteSrt(dir, "cues.srt", bytes).c_str(), nullptr); }
  // Settings go to the module through the entry table of the container's file.
  int32_t Set(uint32_t qid, VmfQueryValue value) {
    const VmfModuleDescriptor* module = nullptr;
    EXPECT_EQ(vmf::FindModule(c->files[0]->moduleId, &module), VMF_OK);
    return module->entries->setInfo(c->files[0]->moduleHandle, qid, &value, 0);
  }
  int32_t SetTextOutput(bool on) {
    VmfQueryValue v{};
    v.value.bytes[0] = on;
    return Set(VMF_QID_SET_SRT_OUTPUT_TEXT, v);
  }
  int32_t Get(uint32_t qid, VmfQueryValue* v, void* buffer = nullptr, uint32_t size = 0) {
    *v = VmfQueryValue{};
    v->size = size;
    v->value.ptr = buffer;
    return vmf::GetInfo(c, qid, v, 0);
  }
  SubtitleFormat Format() {
    SubtitleFormat f{};
    VmfQueryValue v;
    EXPECT_EQ(Get(VMF_QID_SUB_STREAM_FORMAT, &v, &f, sizeof f), VMF_OK);
    EXPECT_EQ(v.dataType, VMF_DTYPE_BUFFER);
    return f;
  }
  int32_t Read(VmfBlock* block) {
    *block = VmfBlock{};
    block->data = buffer;
    block->capacity = sizeof buffer;
    return vmf::ReadNextBlockByStream(c, VMF_BLOCK_SUBTITLE, 0, block);
  }
  std::string ReadText() {
    VmfBlock block;
    return Read(&block) == VMF_OK ? std::string(reinterpret_cast<char*>(buffer), block.size) : "(none)";
  }

  ProcessTestTools::TempDir dir{"srtmodule"};
  VmfContainer* c = nullptr;
  uint8_t buffer[2048];
};

TEST_F(SrtModuleTest, AnswersItsInformationQueries) {
  ASSERT_EQ(Open(kThreeCues), VMF_OK);
  const struct {
    uint32_t qid;
    uint16_t count;
  } counts[] = {{VMF_QID_NUM_CONTAINER_TITLE, 1},         {VMF_QID_NUM_TITLE_STREAMS, 1},
                {VMF_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA, 1}, {VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA, 0},
                {VMF_QID_NUM_TITLEMEDIA_AUDIOMEDIA, 0},    {VMF_QID_NUM_ACTIVE_TITLE_STREAMS, 0}};
  VmfQueryValue v;
  for (const auto& row : counts) {
    SCOPED_TRACE(VmfQidName(row.qid));
    EXPECT_EQ(Get(row.qid, &v), VMF_OK);
    EXPECT_EQ(v.value.u16, row.count);
  }
  const SubtitleFormat f = Format();
  EXPECT_EQ(std::string(f.codec, 4) + std::string(f.subType, 4), "VEXAVESB");
  EXPECT_EQ(std::vector<int32_t>({f.width, f.height, f.bitsPerPixel, f.bitmapBytes}),
            std::vector<int32_t>({640, 480, 4, 153600}));

  uint8_t record[1056];
  const struct {
    uint32_t qid;
    uint32_t size;
    int32_t result;
    std::vector<uint8_t> head;
  } props[] = {{VMF_QID_GET_CONTAINER_PROP, 8, VMF_OK, {16, 0, 0, 0, 1, 0, 0, 0}},
               {VMF_QID_GET_TITLE_PROP, 16, VMF_OK, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}},
               {VMF_QID_GET_TITLE_MEDIA_PROP, 8, VMF_OK, {0, 0, 0, 0, 0, 0, 1, 0}},
               {VMF_QID_GET_SUBTITLE_MEDIA_PROP, 1056, VMF_OK, {16, 0, 0}},
               {VMF_QID_GET_SUBTITLE_MEDIA_PROP, 1055, VMF_OUT_OF_MEMORY, {}},
               {VMF_QID_CONTAINER_MUX_APP, 1056, VMF_ERR_INVALID_QUERY_ID, {}}};
  for (const auto& row : props) {
    SCOPED_TRACE(VmfQidName(row.qid));
    std::memset(record, 0xEE, sizeof record);
    EXPECT_EQ(Get(row.qid, &v, record, row.size), row.result);
    EXPECT_EQ(std::vector<uint8_t>(record, record + row.head.size()), row.head);
  }
}

TEST_F(SrtModuleTest, TextOutputHandsOutCuesAndSeeks) {
  ASSERT_EQ(Open(kThreeCues), VMF_OK);
  ASSERT_EQ(SetTextOutput(true), VMF_OK);
  VmfQueryValue v;
  EXPECT_EQ(Get(VMF_QID_SET_SRT_OUTPUT_TEXT, &v), VMF_OK);
  EXPECT_EQ(v.value.bytes[0], 1);
  EXPECT_EQ(std::string(Format().subType, 4), "VETX");
  EXPECT_EQ(ReadText(), "A");
  VmfBlock block;
  ASSERT_EQ(Read(&block), VMF_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block.data), block.size), "B\nb");
  EXPECT_EQ(block.time, 3 * kSecond);
  EXPECT_EQ(block.duration, 15000000);
  EXPECT_EQ(ReadText(), "C");
  EXPECT_EQ(Read(&block), VMF_FAILED);

  int64_t t = 25000000;  // between A and B
  EXPECT_EQ(vmf::SetPosition(c, VMF_BLOCK_SUBTITLE, 0, &t), VMF_OK);
  EXPECT_EQ(t, 3 * kSecond);
  EXPECT_EQ(ReadText(), "B\nb");
  ASSERT_EQ(SetTextOutput(true), VMF_OK);  // a fresh reader: the first cue again
  EXPECT_EQ(ReadText(), "A");
  t = 7 * kSecond;
  EXPECT_EQ(vmf::SetPosition(c, VMF_BLOCK_SUBTITLE, 0, &t), kSrtEnd);
  EXPECT_EQ(t, -1);
}

TEST_F(SrtModuleTest, BitmapOutputEndsWithItsOwnCodeAndIgnoresSeeks) {
  ASSERT_EQ(Open("\n\n"), VMF_OK);
  int64_t t = 5 * kSecond;
  EXPECT_EQ(vmf::SetPosition(c, VMF_BLOCK_SUBTITLE, 0, &t), VMF_OK);
  EXPECT_EQ(t, 5 * kSecond);
  VmfBlock block;
  EXPECT_EQ(Read(&block), kSrtEnd);
  ASSERT_EQ(SetTextOutput(true), VMF_OK);
  EXPECT_EQ(vmf::SetPosition(c, VMF_BLOCK_SUBTITLE, 0, &t), kSrtEnd);  // no cue to touch
  EXPECT_EQ(t, 5 * kSecond);
  EXPECT_EQ(Read(&block), VMF_FAILED);
  vmf::CloseContainer(c);
  c = nullptr;
  EXPECT_EQ(vmf::OpenContainer(&c, dir.Wide("missing.srt").c_str(), nullptr), kSrtCannotOpen);
}

TEST_F(SrtModuleTest, SettingTheFormatRecomputesTheBitmapSize) {
  ASSERT_EQ(Open(kThreeCues), VMF_OK);
  const struct {
    int32_t width, height, bitmapBytes;
  } rows[] = {{960, 720, 345600}, {1440, 1080, 777600}, {65536, 65537, 32768}, {-2, 3, -3}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.width);
    SubtitleFormat f = Format();
    f.width = row.width;
    f.height = row.height;
    f.bitmapBytes = 7;
    VmfQueryValue v{VMF_DTYPE_BUFFER, sizeof f, {}};
    v.value.ptr = &f;
    EXPECT_EQ(Set(VMF_QID_SUB_STREAM_FORMAT, v), VMF_OK);
    EXPECT_EQ(Format().bitmapBytes, row.bitmapBytes);
    v.size = sizeof f - 1;
    EXPECT_EQ(Set(VMF_QID_SUB_STREAM_FORMAT, v), VMF_OUT_OF_MEMORY);
  }
}

}  // namespace
