// "nolo://" URLs, the message layout, and whole exchanges with a small nolo server on loopback
// that reads and writes the bytes by hand (so a layout mistake shared by both sides of the code
// would still show).
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/urifile/IUriFile.h"
#include "platform/urifile/NoloProtocol.h"
#include "tests/platform/urifile/UriTestData.h"
#include "tests/support/LoopbackServer.h"

namespace {

using namespace VexaUri;
using namespace VexaFiles;
using UriTest::PatternByte;

TEST(NoloUrl, FollowsTheAddressAndPortRules) {
  const struct { const char* url; uint16_t port; /* 0: refused */ } cases[] = {
      {"nolo://10.0.0.1", 31337}, {"nolo://10.0.0.1:8080/x/y", 8080}, {"nolo://1.2.3.4/", 31337},
      {"nolo://254.254.254.254:65535", 65535}, {"nolo://1.2.3.4:1", 1}, {"nolo://10.0.0.255", 0},
      {"nolo://10.0.0.1:0", 0}, {"nolo://10.0.0.1:65536", 0}, {"nolo://10.0.0.1:", 0},
      {"nolo://10.0.0.1x", 0}, {"nolo://10.0.0.1:80x", 0}, {"nolo://1.2.3/abcdef", 0},
      {"nolo://1.2.3", 0}, {"NOLO://10.0.0.1", 0}, {"nolo://1.2.3.4.5", 0}, {"nolo://0001.2.3.4", 0}};
  for (const auto& c : cases) {
    NoloAddress address{};
    EXPECT_EQ(ParseNoloUrl(c.url, &address), c.port != 0) << c.url;
    EXPECT_EQ(address.port, c.port) << c.url;
  }
  NoloAddress address{};
  EXPECT_TRUE(ParseNoloUrl("nolo://10.0.0.1", &address) && address.octets[0] == 10 && address.octets[3] == 1);
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
    const std::u16string url = UriTest::Wide("nolo://127.0.0.1:" + std::to_string(Port()) + "/r");
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
    EXPECT_EQ(bytes, UriTest::Pattern(r.at, r.got)) << r.at;
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
