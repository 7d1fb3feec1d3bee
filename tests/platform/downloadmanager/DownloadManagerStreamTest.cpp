// The stream-I/O backend of kind 3 against a scripted download-manager library of our own,
// found through InstallDir.
#include <gtest/gtest.h>

#include <vector>

#include "platform/downloadmanager/DownloadManagerStream.h"
#include "platform/os/ScopedDLL.h"
#include "tests/platform/downloadmanager/DownloadManagerTestTools.h"
#include "tests/platform/downloadmanager/ScriptedDownloadManager.h"

namespace {

using namespace VexaDownload;
using VexaFiles::StreamIo;

constexpr int32_t kFailed = VexaFiles::kStreamFailed;

// Cases print as their names.
template <typename Case>
auto operator<<(std::ostream& os, const Case& c) -> decltype(c.what, os) { return os << c.what; }

// Counts the progress calls and asks for a kill at the call numbered `killAt` (0: never).
struct Progress {
  int calls = 0;
  int killAt = 0;
  static int32_t Report(void* context, int32_t phase) {
    auto* self = static_cast<Progress*>(context);
    EXPECT_EQ(phase, kProgressBeforeRead);
    return ++self->calls == self->killAt ? 1 : 0;
  }
};

class DownloadStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_setting.Set(SCRIPTED_DM_DIR);
    ASSERT_TRUE(m_library.Load(SCRIPTED_DM_DIR "/VexaDownloadManager.so"));
    auto access = reinterpret_cast<ScriptAccessFn>(m_library.Symbol(kScriptAccessName));
    ASSERT_NE(access, nullptr);
    script = access();
    *script = DownloadManagerScript{};
    RegisterDownloadManagerBackend();
    ASSERT_EQ(VexaFiles::StreamIoCreate(VexaFiles::kStreamKindDownloadManager, nullptr, nullptr, &stream), 0);
  }
  void TearDown() override {
    if (stream->backend) stream->close(stream);
    VexaFiles::StreamIoDestroy(stream);
  }
  void Open() { ASSERT_EQ(stream->open(stream, u"http://host/x.mkv", 0), 0); }

  DownloadManagerTest::InstallDirSetting m_setting;
  VexaOS::ScopedDLL m_library;
  DownloadManagerScript* script = nullptr;
  StreamIo* stream = nullptr;
};

TEST_F(DownloadStreamTest, OpenPassesTheCarriedOptionsInOrderAndRewinds) {
  stream->password = u"secret";
  stream->referrer = u"http://ref/";
  stream->cookies = u"a=b";
  script->totalSize = 4321;
  script->position = 99;
  Open();
  EXPECT_EQ(script->options, (std::vector<std::u16string>{u"ReferrerURL=http://ref/", u"Cookies=a=b",
                                                          u"Password=secret"}));
  EXPECT_EQ(script->openedUrl, u"http://host/x.mkv");
  EXPECT_EQ(stream->size, 4321);
  EXPECT_EQ(script->position, 0u);
}

struct OpenFailure {
  const char* what;
  size_t cookieChars;
  int32_t openResult, getInfoResult, seekResult;
  int32_t expected;
  int opens, closes;  // the library calls expected
};

class DownloadOpenFailureTest : public DownloadStreamTest,
                                public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(DownloadOpenFailureTest, LeavesNothingOpen) {
  const OpenFailure& c = GetParam();
  std::u16string cookies(c.cookieChars, u'c');
  stream->cookies = cookies.c_str();
  script->openResult = c.openResult;
  script->getInfoResult = c.getInfoResult;
  script->seekResult = c.seekResult;
  EXPECT_EQ(stream->open(stream, u"http://host/x.mkv", 0), c.expected);
  EXPECT_EQ(script->opens, c.opens);
  EXPECT_EQ(script->closes, c.closes);
  EXPECT_EQ(stream->backend, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, DownloadOpenFailureTest, ::testing::Values(
    OpenFailure{"cookies over 65536 characters", 65537, 0, 0, 0, kFailed, 0, 0},
    OpenFailure{"open refused", 65536, 6, 0, 0, kFailed, 1, 0},
    OpenFailure{"no information", 0, 0, 12, 0, 12, 1, 1},
    OpenFailure{"rewind refused", 0, 0, 0, 6, 6, 1, 1}),
    [](const auto& info) { std::string n = info.param.what; for (char& ch : n) if (!isalnum(ch)) ch = '_'; return n; });

struct ReadCase {
  const char* what;
  int32_t blocking;
  int32_t notReadyReads, notReadyAnswer;
  uint32_t shortBy;
  int killAt;  // progress call that asks for the kill, 0 never
  int32_t expected;
  uint32_t expectedCount;
  int libraryReads;
};

class DownloadReadTest : public DownloadStreamTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(DownloadReadTest, PollsUntilDataOrKill) {
  const ReadCase& c = GetParam();
  Open();
  Progress progress{0, c.killAt};
  stream->progress = Progress::Report;
  stream->progressContext = &progress;
  script->notReadyReads = c.notReadyReads;
  script->notReadyAnswer = c.notReadyAnswer;
  script->shortBy = c.shortBy;
  std::vector<uint8_t> buffer(16, 0);
  uint32_t count = 99;
  EXPECT_EQ(stream->read(stream, buffer.data(), 16, &count, c.blocking), c.expected);
  EXPECT_EQ(count, c.expectedCount);
  EXPECT_EQ(script->reads, c.libraryReads);
  if (c.expected == 0) { EXPECT_EQ(buffer[15], ScriptedByte(15)); }
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

struct SeekCase {
  const char* what;
  int64_t offset;
  int32_t origin;
  int32_t expected;
  int64_t position;
  int librarySeeks;
};

class DownloadSeekTest : public DownloadStreamTest, public ::testing::WithParamInterface<SeekCase> {};

TEST_P(DownloadSeekTest, SkipsTheLibraryOnlyForTheCurrentPositionFromTheStart) {
  const SeekCase& c = GetParam();
  Open();
  script->position = 100;
  script->seeks = 0;
  int64_t reached = -7;
  EXPECT_EQ(stream->seek(stream, c.offset, c.origin, &reached), c.expected);
  EXPECT_EQ(script->seeks, c.librarySeeks);
  if (c.expected == 0) { EXPECT_EQ(reached, c.position); }
}

INSTANTIATE_TEST_SUITE_P(Cases, DownloadSeekTest, ::testing::Values(
    SeekCase{"start_to_current", 100, 0, 0, 100, 0},
    SeekCase{"start_elsewhere", 40, 0, 0, 40, 1},
    SeekCase{"current_plus_zero", 0, 1, 0, 100, 1},
    SeekCase{"from_end", 10, 2, 0, 990, 1},
    SeekCase{"unknown_origin", 100, 3, kStreamMissingArgument, 0, 0}),
    [](const auto& info) { return std::string(info.param.what); });

struct QueryCase {
  const char* what;
  uint32_t queryId;
  uint64_t totalSize, downloaded;
  int32_t getInfoResult;
  int32_t expected;
  uint64_t answer;  // masked to the width the query answers in
  uint64_t mask;
};

class DownloadQueryTest : public DownloadStreamTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(DownloadQueryTest, Answers) {
  const QueryCase& c = GetParam();
  script->totalSize = c.totalSize;
  Open();
  script->downloaded = c.downloaded;
  script->bitRate = 640000;
  script->byteRanges = 1;
  script->validBytes = 777;
  script->getInfoResult = c.getInfoResult;
  StreamQueryValue value{};
  value.value.u64 = 0xAAAAAAAAAAAAAAAAull;
  EXPECT_EQ(stream->query(stream, c.queryId, &value), c.expected);
  if (c.expected == 0) { EXPECT_EQ(value.value.u64 & c.mask, c.answer); }
}

constexpr uint64_t k8 = 0xFF, k32 = 0xFFFFFFFF, k64 = ~0ull;
INSTANTIATE_TEST_SUITE_P(Cases, DownloadQueryTest, ::testing::Values(
    QueryCase{"progress", kQueryProgress, 200, 50, 0, 0, 25, k8},
    QueryCase{"progress_of_unknown_size", kQueryProgress, 0, 50, 0, kFailed, 0, 0},
    QueryCase{"progress_without_information", kQueryProgress, 200, 50, 6, kFailed, 0, 0},
    QueryCase{"downloaded", kQueryDownloadedSize, 200, 150, 0, 0, 150, k64},
    QueryCase{"downloaded_of_unknown_size", kQueryDownloadedSize, 0, 150, 0, kFailed, 0, 0},
    QueryCase{"bit_rate", kQueryBitRate, 200, 0, 0, 0, 640000, k32},
    QueryCase{"file_size_kept_at_open", kQueryFileSize, 5000000000ull, 0, 6, 0, 5000000000ull, k64},
    QueryCase{"byte_ranges", kQueryByteRangeRequests, 200, 0, 0, 0, 1, k32},
    QueryCase{"byte_ranges_without_information", kQueryByteRangeRequests, 200, 0, 6, 0, 0, k32},
    QueryCase{"bytes_ahead", kQueryBytesAvailableAhead, 200, 0, 0, 0, 777, k64},
    QueryCase{"unknown_query", 0x250101, 200, 0, 0, kFailed, 0, 0}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(DownloadStreamTest, BytesAheadAreCountedFromThePositionUpToTheLimit) {
  Open();
  script->position = 123;
  StreamQueryValue value{};
  ASSERT_EQ(stream->query(stream, kQueryBytesAvailableAhead, &value), 0);
  EXPECT_EQ(script->validFrom, 123u);
  EXPECT_EQ(script->validLimit, 1000000000000ull);
}

TEST_F(DownloadStreamTest, CloseAbortsThenClosesOnce) {
  Open();
  EXPECT_EQ(stream->close(stream), 0);
  EXPECT_EQ(script->aborts, 1);
  EXPECT_EQ(script->closes, 1);
  EXPECT_EQ(stream->close(stream), kStreamMissingArgument);
  EXPECT_EQ(script->closes, 1);
}

}  // namespace
