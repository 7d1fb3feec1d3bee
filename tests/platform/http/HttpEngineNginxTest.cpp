// The engine against a real nginx serving a file of known random bytes.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "tests/platform/http/EngineTestTools.h"
#include "tests/support/NginxServer.h"

namespace VexaHttp {
namespace {

using namespace VexaFiles;
using HttpTest::OpenEngine;
using HttpTest::ReadAll;

constexpr size_t kFileSize = 300007;  // not a multiple of any block size

// The server's count of accepted connections before this one, asked on a connection of its own.
int AcceptedConnections(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  std::string reply, request = "GET /status HTTP/1.0\r\n\r\n";
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
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
    // Each test runs in a process of its own, several at once: each has its own folder.
    s_dir = std::filesystem::path(VEXA_BINARY_DIR) / "testdata" / ("http_engine_" + std::to_string(::getpid()));
    std::filesystem::create_directories(s_dir / "www");
    std::mt19937 random(20261207);
    s_bytes.resize(kFileSize);
    for (char& byte : s_bytes) byte = static_cast<char>(random());
    std::ofstream(s_dir / "www" / "data.bin", std::ios::binary) << s_bytes;
    std::ofstream(s_dir / "htpasswd") << "vexa:{PLAIN}s3cret\n";
    s_server = new NginxTest::NginxServer((s_dir / "www").string(),
        "location = /status { stub_status; }\n"
        "location = /moved { return 301 /data.bin; }\n"
        "location = /relative { absolute_redirect off; return 302 /data.bin; }\n"
        "location /secret/ { auth_basic \"v\"; auth_basic_user_file " + (s_dir / "htpasswd").string() +
        "; alias " + (s_dir / "www").string() + "/; }\n");
  }
  static void TearDownTestSuite() {
    delete s_server;
    std::filesystem::remove_all(s_dir);
  }
  void SetUp() override { ASSERT_TRUE(s_server->Started()) << s_server->ErrorLog(); }

  static inline std::filesystem::path s_dir;
  static inline std::string s_bytes;
  static inline NginxTest::NginxServer* s_server = nullptr;
};

// Small blocks make about 74 range requests, all on one kept-alive connection.
TEST_F(HttpEngineNginxTest, ReadsWholeFileOnOneKeptAliveConnection) {
  int acceptedBefore = AcceptedConnections(s_server->Port());
  auto engine = OpenEngine(s_server->Url("/data.bin"), 8, 4096);
  ASSERT_EQ(HttpEngineWaitConnected(engine.get()), kUriOk);
  uint64_t size = 0;
  ASSERT_TRUE(HttpEngineSize(engine.get(), &size));
  EXPECT_EQ(size, kFileSize);
  int32_t last;
  EXPECT_EQ(ReadAll(engine.get(), 10000, &last), s_bytes);
  EXPECT_EQ(last, kUriEnd);
  char server[64];
  ASSERT_EQ(HttpEngineServerName(engine.get(), server, sizeof server), kUriOk);
  EXPECT_EQ(std::string(server).substr(0, 5), "nginx");
  EXPECT_EQ(HttpEngineServerName(engine.get(), server, 3), kUriFailed);
  EXPECT_EQ(AcceptedConnections(s_server->Port()), acceptedBefore + 2);  // + the status request
}

// Many small ranges in flight at once go out pipelined on the one connection.
TEST_F(HttpEngineNginxTest, PipelinedPrefetchesAndReadAhead) {
  int acceptedBefore = AcceptedConnections(s_server->Port());
  auto engine = OpenEngine(s_server->Url("/data.bin"), 64, 4096, 20000);
  ASSERT_EQ(HttpEngineWaitConnected(engine.get()), kUriOk);
  for (uint64_t offset = 8192; offset < 8192 * 40; offset += 8192) {
    ASSERT_EQ(HttpEnginePrefetch(engine.get(), offset + 100, 1500), kUriOk);
  }
  EXPECT_EQ(ReadAll(engine.get(), 3000), s_bytes);
  EXPECT_EQ(AcceptedConnections(s_server->Port()), acceptedBefore + 2);
}

TEST_F(HttpEngineNginxTest, RandomSeeksReadTheRightBytesThroughASmallCache) {
  auto engine = OpenEngine(s_server->Url("/data.bin"), 4, 4096);
  std::mt19937 random(7);
  for (int i = 0; i < 60; ++i) {
    uint64_t offset = random() % (kFileSize + 100);
    uint32_t length = 1 + random() % 20000;
    ASSERT_EQ(HttpEngineSeek(engine.get(), kSeekAbsolute, offset, true), kUriOk);
    std::string got(length, '\0');
    int32_t result = HttpEngineRead(engine.get(), got.data(), &length, true);
    std::string expected = s_bytes.substr(std::min<size_t>(offset, kFileSize), got.size());
    ASSERT_EQ(got.substr(0, length), expected) << offset;
    ASSERT_EQ(result, expected.empty() ? kUriEnd : kUriOk);
  }
  ASSERT_EQ(HttpEngineSeek(engine.get(), kSeekFromEnd, 10, true), kUriOk);
  EXPECT_EQ(ReadAll(engine.get(), 64), s_bytes.substr(kFileSize - 10));
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

// Redirects lead to the file (nginx writes one absolute, one relative Location); the guarded
// copy answers 14 until the URL carries the right credentials.
TEST_F(HttpEngineNginxTest, OpensThroughRedirectsAndCredentials) {
  struct Case { const char* credentials; const char* path; int32_t result; };
  const Case cases[] = {{"", "/moved", kUriOk}, {"", "/relative", kUriOk},
                        {"", "/secret/data.bin", kUriAuthRefused},
                        {"vexa:nope@", "/secret/data.bin", kUriAuthRefused},
                        {"vexa:s3cret@", "/secret/data.bin", kUriOk}};
  for (const Case& c : cases) {
    auto engine = OpenEngine("http://" + std::string(c.credentials) + s_server->Url(c.path).substr(7));
    ASSERT_EQ(HttpEngineWaitConnected(engine.get()), c.result) << c.credentials << c.path;
    if (c.result != kUriOk) continue;
    EXPECT_EQ(ReadAll(engine.get(), 50000), s_bytes) << c.path;
    char url[256];
    ASSERT_EQ(HttpEngineCurrentUrl(engine.get(), url, sizeof url), kUriOk);
    EXPECT_EQ(std::string(url).substr(std::string(url).rfind('/')), "/data.bin");
  }
}

}  // namespace
}  // namespace VexaHttp
