// The stream backend of kind 3 against a scripted library of our own found through InstallDir.
#include <gtest/gtest.h>

#include "platform/downloadmanager/DownloadManagerContract.h"
#include "platform/downloadmanager/DownloadManagerStream.h"
#include "platform/os/ScopedDLL.h"
#include "tests/platform/downloadmanager/ScriptedDownloadManager.h"
#include "tests/support/SettingsLayers.h"

namespace {

using namespace VexaDownload;
using Settings = TestSupport::SettingsLayers;
constexpr int32_t kFailed = VexaFiles::kStreamFailed;

class DownloadStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.SetInstallDir(SCRIPTED_DM_DIR);
    ASSERT_TRUE(library.Load(SCRIPTED_DM_DIR "/" SCRIPTED_DM_NAME));
    auto access = reinterpret_cast<DownloadManagerScript* (*)()>(library.Symbol("ScriptedDownloadManagerScript"));
    ASSERT_NE(access, nullptr);
    *(script = access()) = DownloadManagerScript{};
    RegisterDownloadManagerBackend();
    ASSERT_EQ(VexaFiles::StreamIoCreate(VexaFiles::kStreamKindDownloadManager, nullptr, nullptr, &stream), 0);
  }
  void TearDown() override {
    if (stream->backend) stream->close(stream);
    VexaFiles::StreamIoDestroy(stream);
  }
  int32_t Open() { return stream->open(stream, u"http://h/x.mkv", 0); }

  Settings settings;
  VexaOS::ScopedDLL library;
  DownloadManagerScript* script = nullptr;
  VexaFiles::StreamIo* stream = nullptr;
};

TEST_F(DownloadStreamTest, OpenPassesTheOptionsInOrderWithinTheirLimitsAndRewinds) {
  const std::u16string tooLong(65537, u'c');  // cookies are taken up to 65536 characters
  stream->cookies = tooLong.c_str();
  EXPECT_EQ(Open(), kFailed);
  EXPECT_EQ(script->opens, 0);
  stream->password = u"secret";
  stream->cookies = u"a=b";
  script->position = 99;
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(script->options, (std::vector<std::u16string>{u"urifile1:Cookies=a=b", u"urifile1:Password=secret"}));
  EXPECT_EQ(std::pair(stream->size, script->position), std::pair(int64_t{1000}, uint64_t{0}));
  EXPECT_EQ(stream->close(stream), 0);
  EXPECT_EQ(stream->close(stream), kStreamMissingArgument);
  EXPECT_EQ(std::pair(script->aborts, script->closes), std::pair(1, 1));
  script->getInfoResult = 12;  // an open that fails after the library opened closes it again
  EXPECT_EQ(Open(), 12);
  EXPECT_EQ(std::pair(script->closes, stream->backend), std::pair(2, static_cast<void*>(nullptr)));
}

// Each row: how the library answers, when the progress callback asks for a kill, what the read
// answers and how often it asked the library.
TEST_F(DownloadStreamTest, ABlockingReadPollsUntilDataOrKill) {
  ASSERT_EQ(Open(), 0);
  struct Progress { int calls = 0, killAt = 0; } progress;
  stream->progress = [](void* context, int32_t) -> int32_t {
    auto* p = static_cast<Progress*>(context);
    return ++p->calls == p->killAt;
  };
  stream->progressContext = &progress;
  const struct { int32_t blocking, notReadyReads, notReadyAnswer, shortBy, killAt, result, count, reads; } rows[] = {
      {1, 2, 10, 0, 0, 0, 16, 3},  {1, 1000, 10, 0, 3, kStreamKilled, 0, 2},
      {1, 0, 10, 0, 1, kStreamKilled, 0, 0},  {0, 1, 10, 0, 0, kStreamDataNotReady, 0, 1},
      {1, 1, 12, 0, 0, kStreamDataNotReady, 0, 1}, {1, 1, 6, 0, 0, kFailed, 0, 1}, {1, 0, 10, 4, 0, kFailed, 12, 1}};
  for (const auto& row : rows) {
    progress = Progress{0, row.killAt};
    *script = DownloadManagerScript{.notReadyReads = row.notReadyReads, .notReadyAnswer = row.notReadyAnswer,
                                    .shortBy = static_cast<uint32_t>(row.shortBy)};
    uint8_t buffer[16] = {};
    uint32_t count = 99;
    EXPECT_EQ(stream->read(stream, buffer, 16, &count, row.blocking), row.result) << &row - rows;
    EXPECT_EQ(std::pair(count, script->reads), std::pair(uint32_t(row.count), row.reads)) << &row - rows;
    if (row.count) { EXPECT_EQ(buffer[row.count - 1], ScriptedByte(row.count - 1)); }
  }
}

TEST_F(DownloadStreamTest, OnlyASeekFromTheStartToTheCurrentPositionSkipsTheLibrary) {
  ASSERT_EQ(Open(), 0);  // rewinds: one library seek
  int64_t reached = -1;
  const struct { int64_t offset; int32_t origin, result; int64_t reached; int seeks; } steps[] = {
      {0, 0, 0, 0, 1}, {40, 0, 0, 40, 2}, {40, 0, 0, 40, 2}, {0, 1, 0, 40, 3}, {10, 2, 0, 990, 4},
      {5, 3, kStreamMissingArgument, 990, 4}};
  for (const auto& step : steps) {
    EXPECT_EQ(stream->seek(stream, step.offset, step.origin, &reached), step.result);
    EXPECT_EQ(std::pair(reached, script->seeks), std::pair(step.reached, step.seeks)) << step.offset;
  }
}

TEST_F(DownloadStreamTest, QueriesAnswerFromTheLibrarysInformation) {
  const struct { uint32_t query; uint64_t totalSize; int32_t infoResult, result; uint64_t answer; } rows[] = {
      {kQueryProgress, 200, 0, 0, 25}, {kQueryProgress, 0, 0, kFailed, 0},  // unknown size
      {kQueryDownloadedSize, 200, 0, 0, 50}, {kQueryBitRate, 200, 0, 0, kScriptedRate},
      {kQueryFileSize, 5000000000ull, 0, 0, 5000000000ull}, {kQueryByteRangeRequests, 200, 6, 0, 0},
      {kQueryBytesAvailableAhead, 200, 0, 0, kScriptedValidBytes}, {0x250101, 200, 0, kFailed, 0}};
  for (const auto& row : rows) {
    *script = DownloadManagerScript{.totalSize = row.totalSize};
    ASSERT_EQ(Open(), 0);
    *script = DownloadManagerScript{.getInfoResult = row.infoResult, .totalSize = row.totalSize, .downloaded = 50, .position = 123};
    StreamQueryValue value{};
    EXPECT_EQ(stream->query(stream, row.query, &value), row.result) << std::hex << row.query;
    EXPECT_EQ(value.value.u64, row.answer) << std::hex << row.query;
    if (row.query == kQueryBytesAvailableAhead) {
      EXPECT_EQ(std::pair(script->validFrom, script->validLimit), std::pair(uint64_t{123}, kDmValidBytesLimit));
    }
  }
}

}  // namespace
