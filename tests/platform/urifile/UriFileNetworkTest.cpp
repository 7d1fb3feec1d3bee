// The in-memory URI file over one real nginx (with the HTTP engine under it and the partial
// copy), including the promise that streaming allocates nothing; then whole "nolo://" exchanges
// with a small nolo server on loopback that reads and writes the bytes by hand (so a layout
// mistake shared by both sides of the code would still show). nginx serves a file larger than
// the engine's 2 MiB of cache, also behind Basic authentication.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <thread>

#include "platform/urifile/CreateUriFile.h"
#include "platform/urifile/NoloProtocol.h"
#include "platform/urifile/UriFileMemory.h"
#include "tests/platform/http/EngineTestTools.h"
#include "tests/platform/urifile/PatternFile.h"
#include "tests/support/AllocationGate.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/NginxServer.h"
#include "tests/support/ProcessTestTools.h"

namespace {

using namespace VexaUri;
using namespace VexaFiles;
using namespace VexaHttp;
using namespace UriFileTest;
using HttpTest::OpenEngine;
using HttpTest::ReadAll;
using ProcessTestTools::Wide;

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

enum class ServerMode { kServe, kOtherVersion, kHoldReads };

// One client, answering size and read requests for kSize pattern bytes.
class NoloServer : public TestSupport::LoopbackServer {
 public:
  static constexpr uint64_t kSize = 20000;
  explicit NoloServer(ServerMode mode) : m_mode(mode) {
    EXPECT_NE(Port(), 0);
    Start([this] { Serve(); });
  }
  ~NoloServer() { Stop(); }
  std::unique_ptr<IUriFile> Open() const {
    const std::u16string url = Wide("nolo://127.0.0.1:" + std::to_string(Port()) + "/r");
    const UriFileParams params{url.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return std::unique_ptr<IUriFile>(CreateUriFile(&params, nullptr, nullptr));
  }
  std::atomic<int> readsSeen{0}, malformed{0};

 private:
  bool Receive(int fd, uint8_t* bytes, size_t count) {
    for (size_t got = 0; got < count;) {
      const ssize_t n = Readable(fd) ? ::recv(fd, bytes + got, count - got, 0) : 0;
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    return true;
  }
  void Answer(int fd, uint8_t type, uint8_t status, const uint8_t* seq, std::vector<uint8_t> payload) {
    const uint8_t version = m_mode == ServerMode::kOtherVersion ? 2 : 1;
    payload.insert(payload.begin(), {version, type, status, static_cast<uint8_t>(payload.size() >> 8),
                                     static_cast<uint8_t>(payload.size()), seq[0], seq[1]});
    ::send(fd, payload.data(), payload.size(), MSG_NOSIGNAL);
  }
  void Serve() {
    const int fd = Accept();
    uint8_t header[7], payload[12];
    while (fd >= 0 && Receive(fd, header, 7)) {
      const size_t length = header[3] << 8 | header[4];
      const bool size = header[1] == 1 && length == 0, read = header[1] == 2 && length == 12;
      if (header[0] != 1 || header[2] != 0 || !(size || read) || !Receive(fd, payload, length)) {
        ++malformed;
        break;
      }
      if (size) {
        Answer(fd, 0x81, 0, header + 5, {0, 0, 0, 0, 0, 0, kSize >> 8, kSize & 0xFF});
        continue;
      }
      ++readsSeen;
      if (m_mode == ServerMode::kHoldReads) continue;
      const uint64_t offset = GetBigEndian(payload, 8), count = GetBigEndian(payload + 8, 4);
      if (count == 0 || count > 4096) ++malformed;
      std::vector<uint8_t> data;
      for (uint64_t at = offset; at < kSize && data.size() < count; ++at) data.push_back(PatternByte(at));
      Answer(fd, 0x82, offset >= kSize ? 1 : 0, header + 5, data);
    }
    if (fd >= 0) ::close(fd);
  }

  ServerMode m_mode;
};

TEST(NoloSource, ReadsAnyRangeExactlyAcrossMessagesAndRefusesOtherVersions) {
  NoloServer server(ServerMode::kServe);
  auto file = server.Open();
  ASSERT_TRUE(file);
  uint64_t size = 0;
  EXPECT_TRUE(file->GetInfo(kUriInfoSize, &size) == kUriOk && size == NoloServer::kSize);
  const struct { uint64_t at; uint32_t count; int32_t result; uint32_t got; } reads[] = {
      {100, 10000, kUriOk, 10000}, {19995, 100, kUriOk, 5}, {NoloServer::kSize, 10, kUriEnd, 0}, {4095, 2, kUriOk, 2}};
  for (const auto& r : reads) {
    std::vector<uint8_t> bytes(r.count);
    uint32_t count = r.count;
    EXPECT_EQ(file->ReadAt(r.at, bytes.data(), &count, 1), r.result) << r.at;
    bytes.resize(count);
    EXPECT_EQ(bytes, Pattern(r.at, r.got)) << r.at;
  }
  uint64_t position = 0;
  uint32_t count = 1;
  uint8_t byte = 0;
  EXPECT_TRUE(file->Seek(4, kSeekFromEnd) == kUriOk && file->Tell(&position) == kUriOk && position == 19996);
  EXPECT_EQ(file->ReadAt(0, &byte, &count, 0), kUriFailed);  // nolo reads only block
  EXPECT_EQ(server.malformed.load(), 0);
  NoloServer otherVersion(ServerMode::kOtherVersion);
  EXPECT_FALSE(otherVersion.Open());  // its answers are refused
}

// The read holds the object's lock while it waits for an answer that never comes; Abort from
// another thread still ends it (a wait that gave up would answer 6, not 10).
TEST(NoloSource, AbortEndsABlockedRead) {
  NoloServer server(ServerMode::kHoldReads);
  auto file = server.Open();
  ASSERT_TRUE(file);
  std::atomic<int32_t> result{-1};
  std::thread reader([&] {
    uint8_t bytes[16];
    uint32_t count = sizeof bytes;
    result = file->ReadAt(0, bytes, &count, 1);
  });
  for (int i = 0; i < 500 && server.readsSeen.load() == 0; ++i) usleep(10000);
  file->Abort();
  reader.join();
  EXPECT_EQ(result.load(), kUriAborted);
  uint8_t byte = 0;
  uint32_t count = 1;
  EXPECT_EQ(file->ReadAt(0, &byte, &count, 1), kUriAborted);  // until Resume
}

}  // namespace
