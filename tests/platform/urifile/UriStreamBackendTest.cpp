// The framework's stream-I/O backend of kind 4 over a recording IUriFile: the answers of a read,
// when a seek restarts the prefetch, the queries. (Over real files, registered: "file:" names
// read by the tools in tests/downloadmanager.)
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/urifile/UriFileLocal.h"
#include "platform/urifile/UriStreamBackend.h"

namespace {

using namespace VexaUri;
using namespace VexaFiles;

// Serves a size and a position; ReadAt answers from a script; records reads and prefetches.
// The slots the backend does not use are the (unopened) local file's.
class RecordingUriFile final : public UriFileLocal {
 public:
  uint64_t size = 10000000, position = 0, downloaded = 0, rate = 0, cachedAhead = 0, ranges = 1;
  std::deque<int32_t> readScript;  // answers of ReadAt, kUriOk when empty
  uint32_t shortBy = 0;            // bytes a kUriOk read leaves out
  std::vector<std::string> calls;

  int32_t Seek(uint64_t offset, SeekOrigin origin) override {
    position = origin == kSeekAbsolute ? offset : origin == kSeekForward ? position + offset : size - offset;
    return kUriOk;
  }
  int32_t Tell(uint64_t* at) override { return *at = position, kUriOk; }
  int32_t ReadAt(uint64_t at, void*, uint32_t* count, uint8_t blocking) override {
    calls.push_back("read " + std::to_string(at) + (blocking ? " blocking" : ""));
    const int32_t answer = readScript.empty() ? kUriOk : readScript.front();
    if (!readScript.empty()) readScript.pop_front();
    *count = answer == kUriOk ? *count - shortBy : 0;
    position = at + *count;
    return answer;
  }
  int32_t Prefetch(uint64_t offset, uint64_t length) override {
    calls.push_back("prefetch " + std::to_string(offset) + " " + std::to_string(length));
    return kUriOk;
  }
  int32_t CancelPrefetch() override { return calls.push_back("cancel"), kUriOk; }
  int32_t GetMissingRange(uint64_t* offset, uint64_t* length) override {
    return *offset += cachedAhead, *length -= cachedAhead, kUriOk;
  }
  int32_t GetInfo(uint32_t id, uint64_t* value) override {
    const std::map<uint32_t, uint64_t> info{{kUriInfoSize, size}, {kUriInfoByteRanges, ranges},
                                            {kUriInfoDownloaded, downloaded}, {kUriInfoRate, rate}};
    return info.count(id) ? (*value = info.at(id), kUriOk) : kUriNotSupported;
  }
};

struct BackendTest : testing::Test {
  StreamIo stream{};
  RecordingUriFile* file = new RecordingUriFile;
  void SetUp() override { ASSERT_EQ(UriStreamAttach(&stream, file), 0); }
  void TearDown() override { EXPECT_EQ(UriStreamClose(&stream), 0); }
};

TEST_F(BackendTest, SeekRestartsThePrefetchOnlyOutsideTheNextTwoMebibytes) {
  // from: where the file stands before (-1: where the last seek left it); origins of the
  // framework: 0 start, 1 forward, 2 back from the end.
  const struct { int64_t from, offset; int32_t origin; std::vector<std::string> calls; } seeks[] = {
      {-1, 1000, 0, {}}, {-1, 0x200000 - 1, 1, {}}, {-1, 0x200000, 1, {"cancel", "prefetch 4195303 5804697"}},
      {-1, 0x100000, 1, {}}, {-1, 0x100000, 0, {"cancel", "prefetch 1048576 8951424"}},
      {-1, 100, 2, {"cancel", "prefetch 9999900 100"}},
      {5000000, 10, 1, {"cancel", "prefetch 5000010 4999990"}}};  // before the last start
  for (const auto& s : seeks) {
    file->calls.clear();
    if (s.from >= 0) file->position = static_cast<uint64_t>(s.from);
    int64_t position = -1, told = -1;
    EXPECT_EQ(UriStreamSeek(&stream, s.offset, s.origin, &position), 0);
    EXPECT_EQ(UriStreamTell(&stream, &told), 0);
    EXPECT_TRUE(position == static_cast<int64_t>(file->position) && told == position) << position;
    EXPECT_EQ(file->calls, s.calls) << s.offset << " " << s.origin;
  }
  EXPECT_EQ(UriStreamSeek(&stream, 0, 3, nullptr), kUriStreamFailed);
  file->ranges = 0;
  UriStreamAttach(&stream, file);
  file->calls.clear();
  EXPECT_EQ(UriStreamSeek(&stream, 5000000, 0, nullptr), 0);
  EXPECT_TRUE(file->calls.empty());  // no byte ranges: nothing to prefetch
}

TEST_F(BackendTest, ReadAnswersInTheFrameworksTerms) {
  const struct { std::deque<int32_t> script; uint32_t shortBy; uint64_t at; int32_t result, count; } reads[] = {
      {{kUriOk}, 0, 0, 0, 100}, {{kUriOk}, 1, 0, kVmfErrDataNotReady, 0}, {{kUriEnd}, 0, 0, kVmfErrEndOfStream, 0},
      {{kUriNotReady}, 0, 0, kVmfErrDataNotReady, 0}, {{kUriAborted}, 0, 0, kVmfErrDataNotReady, 0},
      {{kUriFailed}, 0, 0, kUriStreamFailed, 0}, {{}, 0, 10000000 - 99, kVmfErrEndOfStream, 0}};
  for (const auto& r : reads) {
    file->readScript = r.script;
    file->shortBy = r.shortBy;
    file->position = r.at;
    uint8_t buffer[100];
    uint32_t count = 7;
    EXPECT_EQ(UriStreamRead(&stream, buffer, sizeof buffer, &count, 1), r.result) << r.at;
    EXPECT_EQ(count, r.count);
  }
}

// With a progress callback a blocking read polls without blocking until data comes, and a
// kill is heard while it waits.
TEST_F(BackendTest, ProgressCallbackPollsAndKills) {
  struct Progress { std::vector<int32_t> phases; size_t killAt = 100; } progress;
  stream.progress = [](void* context, int32_t phase) {
    auto* p = static_cast<Progress*>(context);
    p->phases.push_back(phase);
    return p->phases.size() >= p->killAt ? 1 : 0;
  };
  stream.progressContext = &progress;
  uint8_t buffer[10];
  uint32_t count = 0;
  file->readScript = {kUriNotReady, kUriNotReady, kUriOk};
  EXPECT_EQ(UriStreamRead(&stream, buffer, sizeof buffer, &count, 1), 0);
  EXPECT_EQ(progress.phases, (std::vector<int32_t>{1, 1, 1, 2}));
  EXPECT_EQ(file->calls, (std::vector<std::string>{"read 0", "read 0", "read 0"}));
  progress = {{}, 2};
  file->readScript = {kUriNotReady, kUriNotReady, kUriNotReady};
  EXPECT_EQ(UriStreamRead(&stream, buffer, sizeof buffer, &count, 1), kVmfErrKill);
}

TEST_F(BackendTest, QueriesAnswerFromTheFile) {
  file->downloaded = 2500000, file->rate = 800000, file->cachedAhead = 4096, file->position = 300;
  stream.blocking = 1;
  const struct { uint32_t qid; uint64_t value; } queries[] = {
      {kQidGetProgress, 25}, {kQidGetBitrate, 800000}, {kQidBytesAvailableAhead, 4096},
      {kQidGetFileDownloadedSize, 2500000}, {kQidGetFileSize, 10000000}, {kQidBlockOnRead, 1},
      {kQidStreamByteRangeRequests, 1}};
  for (const auto& q : queries) {
    UriStreamQueryValue value{};
    EXPECT_EQ(UriStreamQuery(&stream, q.qid, &value), 0) << std::hex << q.qid;
    EXPECT_EQ(value.value.u64, q.value) << std::hex << q.qid;
    EXPECT_EQ(value.dataType, q.qid & 0xF);
  }
  UriStreamQueryValue value{};
  EXPECT_EQ(UriStreamQuery(&stream, 0x10010A, &value), kUriStreamFailed);
  stream.size = 0;
  EXPECT_EQ(UriStreamQuery(&stream, kQidGetProgress, &value), kUriStreamFailed);
}

}  // namespace
