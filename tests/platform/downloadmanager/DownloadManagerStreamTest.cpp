// The stream backend of kind 3 against a scripted library of our own found through InstallDir.
#include <gtest/gtest.h>

#include "platform/downloadmanager/DownloadManagerContract.h"
#include "platform/downloadmanager/DownloadManagerStream.h"
#include "platform/os/ScopedDLL.h"
#include "tests/platform/downloadmanager/DownloadManagerTestSettings.h"
#include "tests/platform/downloadmanager/ScriptedDownloadManager.h"

namespace {

using namespace VexaDownload;
using DownloadManagerTest::Settings;
constexpr int32_t kFailed = VexaFiles::kStreamFailed;

template <typename Case>
auto operator<<(std::ostream& os, const Case& c) -> decltype(c.what, os) { return os << c.what; }

class DownloadStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.SetInstallDir(SCRIPTED_DM_DIR);
    ASSERT_TRUE(library.Load(SCRIPTED_DM_DIR "/VexaDownloadManager.so"));
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

TEST_F(DownloadStreamTest, OpenSetsTheCarriedOptionsInOrderRewindsAndCloseReleasesOnce) {
  stream->password = u"secret";
  stream->referrer = u"http://ref/";
  stream->cookies = u"a=b";
  script->position = 99;
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(script->options, (std::vector<std::u16string>{u"urifile1:ReferrerURL=http://ref/",
                                                          u"urifile1:Cookies=a=b", u"urifile1:Password=secret"}));
  EXPECT_EQ(stream->size, 1000);
  EXPECT_EQ(script->position, 0u);
  EXPECT_EQ(stream->close(stream), 0);
  EXPECT_EQ(stream->close(stream), kStreamMissingArgument);
  EXPECT_EQ(std::pair(script->aborts, script->closes), std::pair(1, 1));
}

TEST_F(DownloadStreamTest, AFailedOpenLeavesNothingOpen) {
  const std::u16string tooLong(65537, u'c');  // cookies are taken up to 65536 characters
  stream->cookies = tooLong.c_str();
  EXPECT_EQ(Open(), kFailed);
  EXPECT_EQ(script->opens, 0);
  stream->cookies = nullptr;
  script->getInfoResult = 12;
  EXPECT_EQ(Open(), 12);
  EXPECT_EQ(std::pair(script->opens, script->closes), std::pair(1, 1));
  EXPECT_EQ(stream->backend, nullptr);
}

struct ReadCase {
  const char* what;
  int32_t blocking, notReadyReads, notReadyAnswer;
  uint32_t shortBy;
  int killAt;  // the progress call that asks for the kill, 0 never
  int32_t expected;
  uint32_t count;
  int libraryReads;
};

class DownloadReadTest : public DownloadStreamTest, public ::testing::WithParamInterface<ReadCase> {
 protected:
  int progressCalls = 0;
  static int32_t Progress(void* context, int32_t phase) {
    auto* self = static_cast<DownloadReadTest*>(context);
    return phase == kProgressBeforeRead && ++self->progressCalls == self->GetParam().killAt;
  }
};

TEST_P(DownloadReadTest, PollsUntilDataOrKill) {
  const ReadCase& c = GetParam();
  ASSERT_EQ(Open(), 0);
  stream->progress = Progress;
  stream->progressContext = this;
  script->notReadyReads = c.notReadyReads;
  script->notReadyAnswer = c.notReadyAnswer;
  script->shortBy = c.shortBy;
  uint8_t buffer[16] = {};
  uint32_t count = 99;
  EXPECT_EQ(stream->read(stream, buffer, 16, &count, c.blocking), c.expected);
  EXPECT_EQ(count, c.count);
  EXPECT_EQ(script->reads, c.libraryReads);
  EXPECT_EQ(buffer[c.count ? c.count - 1 : 0], c.count ? ScriptedByte(c.count - 1) : 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, DownloadReadTest, ::testing::Values(
    ReadCase{"data_after_two_polls", 1, 2, 10, 0, 0, 0, 16, 3},
    ReadCase{"kill_while_polling", 1, 1000, 10, 0, 3, kStreamKilled, 0, 2},
    ReadCase{"kill_before_asking", 1, 0, 10, 0, 1, kStreamKilled, 0, 0},
    ReadCase{"non_blocking_not_ready", 0, 1, 10, 0, 0, kStreamDataNotReady, 0, 1},
    ReadCase{"busy_is_not_ready_and_not_polled", 1, 1, 12, 0, 0, kStreamDataNotReady, 0, 1},
    ReadCase{"other_failure", 1, 1, 6, 0, 0, kFailed, 0, 1},
    ReadCase{"short_read", 1, 0, 10, 4, 0, kFailed, 12, 1}),
    [](const auto& info) { return std::string(info.param.what); });

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

struct QueryCase {
  const char* what;
  uint32_t queryId;
  uint64_t totalSize;
  int32_t getInfoResult, expected;
  uint64_t answer;
};

class DownloadQueryTest : public DownloadStreamTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(DownloadQueryTest, Answers) {
  const QueryCase& c = GetParam();
  script->totalSize = c.totalSize;
  ASSERT_EQ(Open(), 0);
  script->downloaded = 50;
  script->position = 123;
  script->getInfoResult = c.getInfoResult;
  StreamQueryValue value{};
  EXPECT_EQ(stream->query(stream, c.queryId, &value), c.expected);
  EXPECT_EQ(value.value.u64, c.answer);
  if (c.queryId == kQueryBytesAvailableAhead) {
    EXPECT_EQ(script->validFrom, 123u);
    EXPECT_EQ(script->validLimit, kDmValidBytesLimit);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DownloadQueryTest, ::testing::Values(
    QueryCase{"progress", kQueryProgress, 200, 0, 0, 25},
    QueryCase{"progress_of_unknown_size", kQueryProgress, 0, 0, kFailed, 0},
    QueryCase{"downloaded", kQueryDownloadedSize, 200, 0, 0, 50},
    QueryCase{"bit_rate", kQueryBitRate, 200, 0, 0, kScriptedRate},
    QueryCase{"file_size_kept_at_open", kQueryFileSize, 5000000000ull, 6, 0, 5000000000ull},
    QueryCase{"byte_ranges_without_information", kQueryByteRangeRequests, 200, 6, 0, 0},
    QueryCase{"bytes_ahead", kQueryBytesAvailableAhead, 200, 0, 0, kScriptedValidBytes},
    QueryCase{"unknown_query", 0x250101, 200, 0, kFailed, 0}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
