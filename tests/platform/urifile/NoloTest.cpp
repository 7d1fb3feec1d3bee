// "nolo://" URLs, the message layout, and whole exchanges with a small nolo server on loopback
// that reads and writes the bytes by hand (so a layout mistake shared by both sides of the code
// would still show).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/urifile/IUriFile.h"
#include "platform/urifile/NoloProtocol.h"
#include "tests/platform/urifile/UriTestData.h"

namespace {

using namespace VexaUri;
using namespace VexaFiles;
using UriTest::PatternByte;

TEST(NoloUrl, FollowsTheAddressAndPortRules) {
  const struct {
    const char* url;
    bool valid;
    uint16_t port;
  } cases[] = {{"nolo://10.0.0.1", true, 31337},          {"nolo://10.0.0.1:8080/x/y", true, 8080},
               {"nolo://254.254.254.254:65535", true, 65535}, {"nolo://1.2.3.4/", true, 31337},
               {"nolo://1.2.3.4:1", true, 1},             {"nolo://10.0.0.255", false, 0},
               {"nolo://10.0.0.1:0", false, 0},           {"nolo://10.0.0.1:65536", false, 0},
               {"nolo://10.0.0.1:", false, 0},            {"nolo://10.0.0.1x", false, 0},
               {"nolo://10.0.0.1:80x", false, 0},         {"nolo://1.2.3/abcdef", false, 0},
               {"nolo://1.2.3", false, 0},                {"NOLO://10.0.0.1", false, 0},
               {"nolo://1.2.3.4.5", false, 0},            {"nolo://0001.2.3.4", false, 0}};
  for (const auto& c : cases) {
    NoloAddress address{};
    EXPECT_EQ(ParseNoloUrl(c.url, &address), c.valid) << c.url;
    if (c.valid) {
      EXPECT_EQ(address.port, c.port) << c.url;
    }
  }
  NoloAddress address{};
  ASSERT_TRUE(ParseNoloUrl("nolo://10.0.0.1", &address));
  EXPECT_EQ((std::vector<int>{address.octets[0], address.octets[1], address.octets[2], address.octets[3]}),
            (std::vector<int>{10, 0, 0, 1}));
}

TEST(NoloMessage, RefusesOtherVersionsAndOverlongPayloads) {
  const struct {
    std::vector<uint8_t> bytes;
    NoloParse result;
  } cases[] = {{{}, kNoloIncomplete},
               {{2}, kNoloBadVersion},
               {{1, 0x82, 0, 0, 3, 0, 9, 'a', 'b'}, kNoloIncomplete},
               {{1, 0x82, 0, 0, 3, 0, 9, 'a', 'b', 'c'}, kNoloComplete},
               {{1, 0x82, 0, 0x10, 0x01, 0, 0}, kNoloBadLength},
               {{0, 0x82, 0, 0, 0, 0, 0}, kNoloBadVersion}};
  for (const auto& c : cases) {
    NoloMessageView view{};
    EXPECT_EQ(ParseNoloMessage(c.bytes.data(), c.bytes.size(), &view), c.result) << c.bytes.size();
    if (c.result == kNoloComplete) {
      EXPECT_TRUE(view.sequence == 9 && view.payloadLength == 3 && view.payload[2] == 'c');
    }
  }
}

enum class ServerMode { kServe, kOtherVersion, kHoldReads };

// One client, answering size and read requests for a resource of kSize pattern bytes.
class NoloServer {
 public:
  static constexpr uint64_t kSize = 20000;

  explicit NoloServer(ServerMode mode) : m_mode(mode) {
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listen, 1);
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~NoloServer() {
    m_stop = true;
    m_thread.join();
    ::close(m_listen);
  }
  std::u16string Url() const { return UriTest::Wide("nolo://127.0.0.1:" + std::to_string(m_port) + "/r"); }

  std::atomic<int> readsSeen{0};
  std::atomic<int> malformed{0};

 private:
  // Waits (in bounded steps, until stopped) for `count` bytes.
  bool Receive(int fd, uint8_t* bytes, size_t count) {
    for (size_t got = 0; got < count;) {
      pollfd entry{fd, POLLIN, 0};
      if (m_stop) return false;
      if (::poll(&entry, 1, 50) != 1) continue;
      const ssize_t n = ::recv(fd, bytes + got, count - got, 0);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    return true;
  }
  void Answer(int fd, uint8_t type, uint8_t status, const uint8_t* seq, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> message{m_mode == ServerMode::kOtherVersion ? uint8_t{2} : uint8_t{1}, type, status,
                                 static_cast<uint8_t>(payload.size() >> 8), static_cast<uint8_t>(payload.size()),
                                 seq[0], seq[1]};
    message.insert(message.end(), payload.begin(), payload.end());
    ::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
  }
  void Serve() {
    pollfd entry{m_listen, POLLIN, 0};
    while (!m_stop && ::poll(&entry, 1, 50) != 1) {}
    if (m_stop) return;
    const int fd = ::accept(m_listen, nullptr, nullptr);
    uint8_t header[7], payload[4096];
    while (Receive(fd, header, 7)) {
      const size_t length = header[3] << 8 | header[4];
      if (header[0] != 1 || header[2] != 0 || length > 12 || !Receive(fd, payload, length)) {
        ++malformed;
        break;
      }
      if (header[1] == 1 && length == 0) {
        Answer(fd, 0x81, 0, header + 5, {0, 0, 0, 0, 0, 0, kSize >> 8, kSize & 0xFF});
        continue;
      }
      uint64_t offset = 0;
      for (int i = 0; i < 8; ++i) offset = offset << 8 | payload[i];
      const uint32_t count = payload[8] << 24 | payload[9] << 16 | payload[10] << 8 | payload[11];
      if (header[1] != 2 || length != 12 || count == 0 || count > 4096) {
        ++malformed;
        break;
      }
      ++readsSeen;
      if (m_mode == ServerMode::kHoldReads) continue;
      std::vector<uint8_t> data;
      for (uint64_t at = offset; at < kSize && data.size() < count; ++at) data.push_back(PatternByte(at));
      Answer(fd, 0x82, offset >= kSize ? 1 : 0, header + 5, data);
    }
    ::close(fd);
  }

  ServerMode m_mode;
  int m_listen = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

std::unique_ptr<IUriFile> OpenNolo(const std::u16string& url) {
  const UriFileParams params{url.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  return std::unique_ptr<IUriFile>(CreateUriFile(&params, nullptr, nullptr));
}

TEST(NoloSource, ReadsAnyRangeExactlyAcrossMessages) {
  NoloServer server(ServerMode::kServe);
  auto file = OpenNolo(server.Url());
  ASSERT_TRUE(file);
  uint64_t size = 0;
  EXPECT_TRUE(file->GetInfo(kUriInfoSize, &size) == kUriOk && size == NoloServer::kSize);
  const struct {
    uint64_t at;
    uint32_t count;
    int32_t result;
    uint32_t got;
  } reads[] = {{100, 10000, kUriOk, 10000}, {19995, 100, kUriOk, 5},
               {NoloServer::kSize, 10, kUriEnd, 0}, {4095, 2, kUriOk, 2}};
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
  EXPECT_EQ(file->Seek(4, kSeekFromEnd), kUriOk);
  EXPECT_TRUE(file->Tell(&position) == kUriOk && position == NoloServer::kSize - 4);
  EXPECT_EQ(file->ReadAt(0, &byte, &count, 0), kUriFailed);  // nolo reads only block
  EXPECT_EQ(server.malformed.load(), 0);
}

TEST(NoloSource, RefusesAServerOfAnotherVersion) {
  NoloServer server(ServerMode::kOtherVersion);
  EXPECT_FALSE(OpenNolo(server.Url()));
}

// The read holds the object's lock while it waits for an answer that never comes; Abort from
// another thread still ends it (a wait that gave up would answer 6, not 10).
TEST(NoloSource, AbortEndsABlockedRead) {
  NoloServer server(ServerMode::kHoldReads);
  auto file = OpenNolo(server.Url());
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
  uint8_t byte;
  uint32_t count = 1;
  EXPECT_EQ(file->ReadAt(0, &byte, &count, 1), kUriAborted);
}

}  // namespace
