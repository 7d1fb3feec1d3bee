// CreateUriFile's choice of class, the local URI file, and the in-memory URI file over a
// "file://" source and over one real nginx (with the HTTP engine under it and the partial copy),
// including the promise that streaming allocates nothing. nginx serves a file of pattern bytes,
// larger than the engine's 2 MiB of cache, also behind Basic authentication.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <unistd.h>

#include "platform/urifile/CreateUriFile.h"
#include "platform/urifile/LocalFileHandle.h"
#include "platform/urifile/UriFileMemory.h"
#include "tests/platform/http/EngineTestTools.h"
#include "tests/platform/urifile/UriTestData.h"
#include "tests/support/AllocationGate.h"
#include "tests/support/NginxServer.h"

namespace {

using namespace VexaUri;
using namespace VexaFiles;
using namespace UriTest;
using namespace VexaHttp;
using HttpTest::OpenEngine;
using HttpTest::ReadAll;

constexpr uint64_t kFileSize = 100000;

UriFileParams Params(const char16_t* uri, const char16_t* side = nullptr) {
  return UriFileParams{uri, nullptr, side, nullptr, nullptr, nullptr, nullptr};
}

TEST(CreateUriFile, RoutesByLengthSchemeAndSideFiles) {
  const struct { const char16_t* uri; bool side; UriFileClass expected; } cases[] = {
      {u"file", false, UriFileClass::kNone},        {u"http", true, UriFileClass::kNone},
      {u"file:///a", false, UriFileClass::kLocal},  {u"file:///a", true, UriFileClass::kLocal},
      {u"File:///a", false, UriFileClass::kMemory}, {u"http://h/a", false, UriFileClass::kMemory},
      {u"ftp://h/a", false, UriFileClass::kMemory}, {u"http://h/a", true, UriFileClass::kObject}};
  for (const auto& c : cases) {
    const UriFileParams params = Params(c.uri, c.side ? u"/tmp/side" : nullptr);
    EXPECT_EQ(UriFileClassFor(&params), c.expected) << std::string(c.uri, c.uri + 5);
  }
}

// Reads seek only when the position moves; seeks, info, abort, and the slots it does not serve.
TEST(UriFileLocal, ReadsSeeksAndAnswersLikeAFileThatIsComplete) {
  PatternFile data{kFileSize};
  const std::u16string uri = Wide("file://" + data.path);
  const UriFileParams params = Params(uri.c_str());
  std::unique_ptr<IUriFile> file{CreateUriFile(&params, nullptr, nullptr)};
  ASSERT_TRUE(file);
  // seeks: the system seeks the read costs.
  const struct { uint64_t at; uint32_t count; int32_t result; uint32_t got; uint64_t seeks; } reads[] = {
      {0, 1000, kUriOk, 1000, 0},          {1000, 500, kUriOk, 500, 0},    {70000, 300, kUriOk, 300, 1},
      {70300, 300, kUriOk, 300, 0},        {5, 5, kUriOk, 5, 1},           {kFileSize, 50, kUriEnd, 0, 1},
      {kFileSize - 10, 50, kUriOk, 10, 1}};
  for (const auto& r : reads) {
    const uint64_t seeksBefore = LocalFileHandle::SystemSeekCount();
    std::vector<uint8_t> bytes(r.count);
    uint32_t count = r.count;
    EXPECT_EQ(file->ReadAt(r.at, bytes.data(), &count, 1), r.result) << r.at;
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + count), Pattern(r.at, r.got)) << r.at;
    EXPECT_EQ(LocalFileHandle::SystemSeekCount() - seeksBefore, r.seeks) << r.at;
  }
  const struct { uint64_t offset; SeekOrigin origin; uint64_t position; } seeks[] = {
      {500, kSeekAbsolute, 500}, {100, kSeekForward, 600}, {1000, kSeekBackward, 0},
      {10, kSeekFromEnd, kFileSize - 10}, {kFileSize + 5, kSeekFromEnd, 0}};
  for (const auto& s : seeks) {
    uint64_t position = 1;
    EXPECT_TRUE(file->Seek(s.offset, s.origin) == kUriOk && file->Tell(&position) == kUriOk);
    EXPECT_EQ(position, s.position) << s.offset << " " << s.origin;
  }
  uint64_t info[] = {1, 4, 6, 7, 99}, offset = 40, length = 100;
  for (uint64_t& id : info) EXPECT_EQ(file->GetInfo(static_cast<uint32_t>(id), &id), kUriOk);
  EXPECT_EQ(std::vector<uint64_t>(info, info + 5), std::vector<uint64_t>(5, kFileSize));
  uint32_t state = 0, count = 4;
  uint8_t bytes[4];
  EXPECT_TRUE(file->GetMissingRange(&offset, &length) == kUriOk && offset == 140 && length == 0);
  EXPECT_TRUE(file->GetState(&state) == kUriOk && state == kUriStateComplete);
  EXPECT_TRUE(file->Abort() == kUriOk && file->ReadAt(0, bytes, &count, 1) == kUriAborted);
  count = 4;
  EXPECT_TRUE(file->Resume() == kUriOk && file->Read(bytes, &count, 1) == kUriOk && count == 4);
}

// Unopened, every operation fails; a failed open leaves the object closed and reusable. Over a
// "file://" source every byte is at hand, so GetMissingRange moves the offset past the whole
// 32-byte units asked and adds the parts below a unit back unchanged.
TEST(UriFileMemory, ReadsAFileSourceExactlyWithoutAllocating) {
  PatternFile data{kFileSize};
  const std::u16string bad = u"ftp://127.0.0.1/x", uri = Wide("file://" + data.path);
  const UriFileParams badParams = Params(bad.c_str()), params = Params(uri.c_str());
  auto file = std::make_unique<UriFileMemory>();
  std::vector<uint8_t> buffer(70000);
  const uint64_t spots[][2] = {{0, 4096}, {99990, 10}, {12345, 70000}, {77, 1}, {4096, 4096}};
  uint64_t value[5] = {0, 0, 0, 40, 100};
  uint32_t count = 1, state[2] = {};
  bool exact = true;
  AllocationGate::Watch();
  const std::array<int32_t, 10> unopened{file->ReadAt(0, buffer.data(), &count, 1), file->Seek(0, kSeekAbsolute),
                                      file->Tell(value), file->GetInfo(kUriInfoSize, value),
                                      file->Prefetch(0, 1), file->GetProperty(1, value),
                                      file->Open(&badParams, nullptr, nullptr), file->GetState(&state[0]),
                                      file->Open(&params, nullptr, nullptr), file->GetState(&state[1])};
  for (const auto& spot : spots) {
    count = static_cast<uint32_t>(spot[1]);
    exact = exact && file->ReadAt(spot[0], buffer.data(), &count, 1) == kUriOk && count == spot[1];
    for (uint32_t i = 0; exact && i < count; ++i) exact = buffer[i] == PatternByte(spot[0] + i);
  }
  count = 10;
  const std::array<int32_t, 7> results{file->ReadAt(kFileSize, buffer.data(), &count, 1),
                                     file->GetInfo(kUriInfoSize, &value[0]),
                                     file->GetInfo(kUriInfoByteRanges, &value[1]),
                                     file->GetMissingRange(&value[3], &value[4]),
                                     file->Seek(0x7FFFFFFF, kSeekAbsolute), file->Seek(0x80000000, kSeekAbsolute),
                                     (file->Close(), file->Open(&params, nullptr, nullptr))};
  EXPECT_EQ(AllocationGate::Stop(), 0);
  EXPECT_EQ(unopened, (std::array<int32_t, 10>{kUriFailed, kUriFailed, kUriFailed, kUriFailed, kUriFailed, kUriFailed,
                                              kUriFailed, kUriOk, kUriOk, kUriOk}));
  EXPECT_TRUE(state[0] == kUriStateClosed && state[1] == kUriStateOpen && exact);
  EXPECT_EQ(results, (std::array<int32_t, 7>{kUriEnd, kUriOk, kUriOk, kUriOk, kUriOk, kUriFailed, kUriOk}));
  EXPECT_EQ((std::vector<uint64_t>(value, value + 5)), (std::vector<uint64_t>{kFileSize, 1, 0, 136, 4}));
}

// Over nginx: the resource is kSize pattern bytes, "/private/" asks for viewer:s3cret.
constexpr uint64_t kSize = 3 * 1024 * 1024 + 123;

struct Credentials { const char* login; const char* password; int calls = 0; };

int32_t Answer(void* context, char* login, char* password, uint32_t capacity) {
  auto* given = static_cast<Credentials*>(context);
  ++given->calls;
  std::snprintf(login, capacity, "%s", given->login);
  return std::snprintf(password, capacity, "%s", given->password) < 0 ? kUriFailed : kUriOk;
}

// The resource's bytes from `at`: as many of `count` as it has.
std::string Bytes(uint64_t at, uint64_t count) {
  const std::vector<uint8_t> bytes = Pattern(at, at < kSize ? std::min(count, kSize - at) : 0);
  return std::string(bytes.begin(), bytes.end());
}

class HttpNginxTest : public testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(data.dir + "/.htpasswd") << "viewer:{PLAIN}s3cret\n";
    ASSERT_TRUE(server.Started()) << server.ErrorLog();
  }
  // nginx's count of accepted connections before this one, asked on a connection of its own.
  int AcceptedConnections() {
    const std::string status = ReadAll(OpenEngine(server.Url("/status"), 32, 0x10000, 0, 1).get(), 4096);
    const size_t numbers = status.find("requests\n");
    return numbers == std::string::npos ? -1 : std::stoi(status.substr(numbers + 9)) - 1;
  }
  int32_t Open(UriFileMemory* file, const std::u16string& uri, Credentials* credentials) {
    const UriFileParams params{uri.c_str(), nullptr, nullptr, nullptr, nullptr, u"VexaTest", nullptr};
    return file->Open(&params, credentials ? Answer : nullptr, credentials);
  }
  std::u16string Uri(const std::string& path) { return Wide(server.Url(path)); }

  PatternFile data{kSize};
  NginxTest::NginxServer server{data.dir, "location = /status { stub_status; }\n"
                                          "location /private/ { alias " + data.dir +
                                              "/; auth_basic \"vexa\"; auth_basic_user_file " +
                                              data.dir + "/.htpasswd; }"};
  const std::string content = Bytes(0, kSize);
};

// Small blocks fetched one range request after another, then prefetches and a read-ahead window
// putting many ranges in flight at once (pipelined): each time on ONE kept-alive connection.
TEST_F(HttpNginxTest, EngineReadsTheWholeFileOnOneKeptAliveConnection) {
  for (const uint32_t readAhead : {0u, 20000u}) {
    const int acceptedBefore = AcceptedConnections();
    auto engine = OpenEngine(server.Url("/data.bin"), readAhead ? 64 : 8, 4096, readAhead);
    ASSERT_EQ(HttpEngineWaitConnected(engine.get()), kUriOk);
    for (uint64_t offset = 8192; readAhead != 0 && offset < 8192 * 40; offset += 8192) {
      ASSERT_EQ(HttpEnginePrefetch(engine.get(), offset + 100, 1500), kUriOk);
    }
    uint64_t size = 0;
    int32_t last;
    EXPECT_TRUE(HttpEngineSize(engine.get(), &size) && size == kSize);
    EXPECT_TRUE(ReadAll(engine.get(), 10000, &last) == content && last == kUriEnd) << readAhead;
    EXPECT_EQ(AcceptedConnections(), acceptedBefore + 2) << readAhead;  // + the status request
  }
}

// (Reads at random offsets through the engine: the memory file's test below.)
TEST_F(HttpNginxTest, EngineSeeksFromTheEndAndPrefetchesWithoutARead) {
  auto engine = OpenEngine(server.Url("/data.bin"), 4, 4096);
  ASSERT_EQ(HttpEngineSeek(engine.get(), kSeekFromEnd, 10, true), kUriOk);
  EXPECT_EQ(ReadAll(engine.get(), 64), Bytes(kSize - 10, 10));
  // A prefetched range arrives without a read at it; a zero-byte read only pumps.
  ASSERT_EQ(HttpEnginePrefetch(engine.get(), 0, 8192), kUriOk);
  uint64_t offset = 0, length = 8192;
  for (int i = 0; i < 5000 && length != 0; ++i) {
    uint32_t none = 0;
    HttpEngineRead(engine.get(), &offset, &none, false);
    usleep(1000);
    offset = 0, length = 8192;
    ASSERT_EQ(HttpEngineMissingRange(engine.get(), &offset, &length), kUriOk);
  }
  EXPECT_EQ(offset, 8192u);
  EXPECT_EQ(length, 0u);
}

// Nothing between the open and the last read touches the heap: the engine lives in the arena.
TEST_F(HttpNginxTest, MemoryFileReadsRandomRangesByteExactWithoutAllocating) {
  auto file = std::make_unique<UriFileMemory>();
  std::mt19937_64 random(7);
  std::vector<uint8_t> bytes(200000);
  uint64_t size = 0, ranges = 0;
  bool exact = true;
  const std::u16string uri = Uri("/data.bin");
  AllocationGate::Watch();
  const int32_t opened = Open(file.get(), uri, nullptr);
  for (int i = 0; i < 40 && exact && opened == kUriOk; ++i) {
    const uint64_t at = random() % kSize;
    uint32_t count = static_cast<uint32_t>(random() % bytes.size()) + 1;
    const uint32_t expected = static_cast<uint32_t>(std::min<uint64_t>(count, kSize - at));
    exact = file->ReadAt(at, bytes.data(), &count, 1) == kUriOk && count == expected;
    for (uint32_t k = 0; exact && k < count; ++k) exact = bytes[k] == PatternByte(at + k);
  }
  uint32_t count = 10;
  const int32_t atEnd = file->ReadAt(kSize, bytes.data(), &count, 1);
  EXPECT_EQ(AllocationGate::Stop(), 0);
  ASSERT_EQ(opened, kUriOk) << server.ErrorLog();
  EXPECT_TRUE(exact && atEnd == kUriEnd);
  EXPECT_TRUE(file->GetInfo(kUriInfoSize, &size) == kUriOk && file->GetInfo(kUriInfoByteRanges, &ranges) == kUriOk);
  char16_t name[256], url[256];
  EXPECT_TRUE(file->GetServerName(name, 256) == kUriOk && file->GetCurrentUrl(url, 256) == kUriOk);
  EXPECT_TRUE(size == kSize && ranges == 1 && std::u16string(name).starts_with(u"nginx") && url == uri);
}

TEST_F(HttpNginxTest, MemoryFileAsksForCredentialsOnceAndAnswers14WhenRefusedAgain) {
  const struct { const char* password; bool withCallback; int32_t result; int calls; } cases[] = {
      {"s3cret", true, kUriOk, 1}, {"wrong", true, kUriAuthRefused, 1}, {"", false, kUriAuthRefused, 0}};
  for (const auto& c : cases) {
    auto file = std::make_unique<UriFileMemory>();
    Credentials credentials{"viewer", c.password};
    EXPECT_EQ(Open(file.get(), Uri("/private/data.bin"), c.withCallback ? &credentials : nullptr), c.result)
        << c.password;
    EXPECT_EQ(credentials.calls, c.calls);
    uint8_t bytes[64];
    uint32_t count = sizeof bytes;
    EXPECT_EQ(file->ReadAt(1000, bytes, &count, 1), c.result == kUriOk ? kUriOk : kUriFailed);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + count), Pattern(1000, c.result == kUriOk ? 64 : 0));
  }
}

// A partial copy made the way a caller makes one: CreateUriFile with side files.
TEST_F(HttpNginxTest, PartialCopyDownloadsTheResourceByteExact) {
  ProcessTestTools::TempDir copy("copy");
  const std::u16string uri = Uri("/data.bin"), info = copy.Wide("i"), mask = copy.Wide("m"), copied = copy.Wide("d");
  const UriFileParams params{uri.c_str(), info.c_str(), mask.c_str(), copied.c_str(), nullptr, u"VexaTest", nullptr};
  std::unique_ptr<IUriFile> file(CreateUriFile(&params, nullptr, nullptr));
  ASSERT_NE(file, nullptr) << server.ErrorLog();
  std::string tail(1000, '\0');
  uint32_t count = 1000, state = 0;
  ASSERT_EQ(file->ReadAt(kSize - 1000, tail.data(), &count, 1), kUriOk) << server.ErrorLog();
  EXPECT_EQ(tail, Bytes(kSize - 1000, 1000));
  ASSERT_TRUE(ProcessTestTools::WaitFor([&] { return file->GetState(&state) == kUriOk && state == kUriStateComplete; }));
  file.reset();
  EXPECT_TRUE(ProcessTestTools::ReadText(copy.path() / "d") == content);
}

}  // namespace
