// The engine against a real nginx serving a file of known random bytes.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/http/HttpEngine.h"
#include "tests/support/NginxServer.h"

namespace VexaHttp {
namespace {

using namespace VexaFiles;

constexpr size_t kFileSize = 300007;  // not a multiple of any block size

struct EngineDeleter {
  void operator()(HttpEngine* engine) const { HttpEngineDestroy(engine); }
};
using EnginePtr = std::unique_ptr<HttpEngine, EngineDeleter>;

EnginePtr Open(const std::string& url, uint32_t blockCount = 32, uint32_t blockSize = 0x10000) {
  HttpSettings settings;
  HttpSettingsDefaults(&settings);
  settings.blockCount = blockCount;
  settings.blockSize = blockSize;
  return EnginePtr(HttpEngineCreate(url.c_str(), nullptr, &settings));
}

std::vector<uint8_t> ReadAll(HttpEngine* engine, uint32_t chunk) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> buffer(chunk);
  for (;;) {
    uint32_t count = chunk;
    int32_t result = HttpEngineRead(engine, buffer.data(), &count, true);
    out.insert(out.end(), buffer.begin(), buffer.begin() + count);
    if (result != kUriOk || count == 0) break;
  }
  return out;
}

// The server's count of accepted connections, asked on a connection of its own.
int AcceptedConnections(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string request = "GET /status HTTP/1.0\r\n\r\n";
    ::send(fd, request.data(), request.size(), 0);
    char chunk[512];
    for (ssize_t got; (got = ::recv(fd, chunk, sizeof chunk, 0)) > 0;) reply.append(chunk, got);
  }
  ::close(fd);
  size_t numbers = reply.find("requests\n");
  return numbers == std::string::npos ? -1 : std::stoi(reply.substr(numbers + 9)) - 1;
}

class HttpEngineNginxTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = std::filesystem::path(VEXA_BINARY_DIR) / "testdata" / "http_engine";
    std::filesystem::create_directories(s_dir / "www");
    std::mt19937 random(20261207);
    s_bytes.resize(kFileSize);
    for (uint8_t& byte : s_bytes) byte = static_cast<uint8_t>(random());
    std::ofstream(s_dir / "www" / "data.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(s_bytes.data()), static_cast<std::streamsize>(s_bytes.size()));
    std::ofstream(s_dir / "htpasswd") << "vexa:{PLAIN}s3cret\n";
    std::string locations =
        "location = /status { stub_status; }\n"
        "location = /moved { return 301 /data.bin; }\n"
        "location = /relative { absolute_redirect off; return 302 /data.bin; }\n"
        "location /secret/ { auth_basic \"v\"; auth_basic_user_file " + (s_dir / "htpasswd").string() +
        "; alias " + (s_dir / "www").string() + "/; }\n";
    s_server = new NginxTest::NginxServer((s_dir / "www").string(), locations);
  }
  static void TearDownTestSuite() {
    delete s_server;
    std::filesystem::remove_all(s_dir);
  }
  void SetUp() override { ASSERT_TRUE(s_server->Started()) << s_server->ErrorLog(); }

  static std::filesystem::path s_dir;
  static std::vector<uint8_t> s_bytes;
  static NginxTest::NginxServer* s_server;
};

std::filesystem::path HttpEngineNginxTest::s_dir;
std::vector<uint8_t> HttpEngineNginxTest::s_bytes;
NginxTest::NginxServer* HttpEngineNginxTest::s_server = nullptr;

TEST_F(HttpEngineNginxTest, ReadsWholeFileOnOneKeptAliveConnection) {
  int acceptedBefore = AcceptedConnections(s_server->Port());
  EnginePtr engine = Open(s_server->Url("/data.bin"), 8, 4096);  // about 74 range requests
  ASSERT_NE(engine, nullptr);
  ASSERT_EQ(HttpEngineWaitConnected(engine.get()), kUriOk);
  uint64_t size = 0;
  ASSERT_TRUE(HttpEngineSize(engine.get(), &size));
  EXPECT_EQ(size, kFileSize);
  EXPECT_EQ(ReadAll(engine.get(), 10000), s_bytes);
  uint32_t count = 16;
  uint8_t byte[16];
  EXPECT_EQ(HttpEngineRead(engine.get(), byte, &count, true), kUriEnd);
  char server[64];
  ASSERT_EQ(HttpEngineServerName(engine.get(), server, sizeof server), kUriOk);
  EXPECT_EQ(std::string(server).substr(0, 5), "nginx");
  EXPECT_EQ(HttpEngineServerName(engine.get(), server, 3), kUriFailed);
  // The engine's one connection, plus the earlier status request.
  EXPECT_EQ(AcceptedConnections(s_server->Port()), acceptedBefore + 2);
}

TEST_F(HttpEngineNginxTest, RandomSeeksReadTheRightBytesThroughASmallCache) {
  EnginePtr engine = Open(s_server->Url("/data.bin"), 4, 4096);
  ASSERT_NE(engine, nullptr);
  std::mt19937 random(7);
  for (int i = 0; i < 60; ++i) {
    uint64_t offset = random() % (kFileSize + 100);
    uint32_t length = 1 + random() % 20000;
    ASSERT_EQ(HttpEngineSeek(engine.get(), kSeekAbsolute, offset, true), kUriOk);
    std::vector<uint8_t> got(length);
    uint32_t count = length;
    int32_t result = HttpEngineRead(engine.get(), got.data(), &count, true);
    size_t expected = offset >= kFileSize ? 0 : std::min<size_t>(length, kFileSize - offset);
    ASSERT_EQ(count, expected) << offset;
    ASSERT_EQ(result, expected == 0 ? kUriEnd : kUriOk);
    ASSERT_TRUE(std::equal(got.begin(), got.begin() + count, s_bytes.begin() + std::min<size_t>(offset, kFileSize)));
  }
  ASSERT_EQ(HttpEngineSeek(engine.get(), kSeekFromEnd, 10, true), kUriOk);
  EXPECT_EQ(ReadAll(engine.get(), 64), std::vector<uint8_t>(s_bytes.end() - 10, s_bytes.end()));
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

TEST_F(HttpEngineNginxTest, FollowsRedirects) {
  for (const char* path : {"/moved", "/relative"}) {
    EnginePtr engine = Open(s_server->Url(path));
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(ReadAll(engine.get(), 65536), s_bytes) << path;
    char url[256];
    ASSERT_EQ(HttpEngineCurrentUrl(engine.get(), url, sizeof url), kUriOk);
    EXPECT_EQ(std::string(url), s_server->Url("/data.bin"));
  }
}

TEST_F(HttpEngineNginxTest, BasicAuthenticationFromTheUrl) {
  std::string plain = s_server->Url("/secret/data.bin");
  EnginePtr refused = Open(plain);
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(HttpEngineWaitConnected(refused.get()), kUriAuthRefused);
  EnginePtr wrong = Open("http://vexa:nope@" + plain.substr(7));
  EXPECT_EQ(HttpEngineWaitConnected(wrong.get()), kUriAuthRefused);
  EnginePtr admitted = Open("http://vexa:s3cret@" + plain.substr(7));
  EXPECT_EQ(ReadAll(admitted.get(), 50000), s_bytes);
}

}  // namespace
}  // namespace VexaHttp
