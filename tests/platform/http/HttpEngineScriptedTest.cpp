// The engine against scripted servers: hostile and broken answers, redirect chains, silent and
// stalling servers, an abort from another thread, IPv6, and a body of unknown length. (Where
// credentials go on a redirect: HttpTextTest, the resolution's and the request's own tables.)
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "platform/os/MemoryArena.h"
#include "tests/platform/http/EngineTestTools.h"
#include "tests/platform/http/ScriptedServer.h"

namespace VexaHttp {
namespace {

using namespace VexaFiles;
using namespace HttpTest;

std::string Partial(const std::string& body, size_t total, const std::string& extra = "") {
  return "HTTP/1.1 206 P\r\nContent-Range: bytes 0-" + std::to_string(body.size() - 1) + "/" +
         std::to_string(total) + "\r\n" + extra + "\r\n" + body;
}

std::string Path(const std::string& request) { return request.substr(4, request.find(' ', 4) - 4); }

TEST(HttpHostileReplyTest, AnswersWithANamedResult) {
  const struct { const char* name; std::string reply; int32_t expected; } cases[] = {
      {"short range ending the resource", Partial("0123456789", 10), kUriOk},
      {"chunked body", Partial("5\r\nhello", 10, "Transfer-Encoding: chunked\r\n"), kUriNotSupported},
      {"range at another offset", "HTTP/1.1 206 P\r\nContent-Range: bytes 10-19/100\r\n\r\n", kUriFailed},
      {"short range inside", Partial("0123456789", 100), kUriFailed},
      {"length against range", Partial("0123456789", 10, "Content-Length: 5\r\n"), kUriFailed},
      {"total overflows", "HTTP/1.1 206 P\r\nContent-Range: bytes 0-9/99999999999999999999999\r\n\r\n", kUriFailed},
      {"whole body for a range", "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n", kUriFailed},
      {"not a status line", "ICY 200 OK\r\n\r\n", kUriFailed},
      {"header past the buffer", "HTTP/1.1 206 P\r\nX: " + std::string(3000, 'a'), kUriTooSmall},
      {"not found", "HTTP/1.1 404 N\r\n\r\n", kHttpNotFound},
      {"credentials asked", "HTTP/1.1 401 A\r\n\r\n", kUriAuthRefused},
      {"empty location", "HTTP/1.1 302 F\r\nLocation: \r\n\r\n", kUriFailed},
      {"location of another scheme", "HTTP/1.1 302 F\r\nLocation: ftp://h/x\r\n\r\n", kUriNotSupported}};
  for (const auto& c : cases) {
    ScriptedServer server([&](const std::string&, int) { return Reply{c.reply, true}; });
    EXPECT_EQ(HttpEngineWaitConnected(OpenEngine(server.Url("/f")).get()), c.expected) << c.name;
  }
}

TEST(HttpRedirectChainTest, TwentiethRedirectIsTooMany) {
  for (int hops : {19, 20}) {
    ScriptedServer* self = nullptr;
    ScriptedServer server([&](const std::string&, int index) {
      if (index >= hops) return Reply{Partial("0123456789", 10)};
      const std::string status = index % 2 ? "301 M" : "302 F";
      return Reply{"HTTP/1.1 " + status + "\r\nLocation: " + self->Url("/hop" + std::to_string(index + 1)) + "\r\n\r\n"};
    });
    self = &server;
    auto engine = OpenEngine(server.Url("/hop0"));
    if (hops == 19) {
      char url[64];
      EXPECT_EQ(ReadAll(engine.get(), 100), "0123456789");
      EXPECT_EQ(Path(server.Requests().back()), "/hop19");
      ASSERT_EQ(HttpEngineCurrentUrl(engine.get(), url, sizeof url), kUriOk);
      EXPECT_EQ(url, server.Url("/hop19"));
      EXPECT_EQ(HttpEngineCurrentUrl(engine.get(), url, 3), kUriFailed);  // does not fit
    } else {
      EXPECT_EQ(HttpEngineWaitConnected(engine.get()), kHttpTooManyRedirects);
      EXPECT_EQ(server.Requests().size(), 20u);
    }
  }
}

TEST(HttpStalledServerTest, BlockingReadGivesUp) {
  std::string halfBody = Partial(std::string(100, 'b'), 100);
  halfBody.resize(halfBody.size() - 50);
  const struct { const char* name; Reply first; Reply later; std::string delivered; } cases[] = {
      {"silent", {"", true}, {"", true}, ""},
      {"closes at once", {"", false}, {"", false}, ""},
      {"stalls in the body", {halfBody, true}, {"", true}, std::string(50, 'b')}};
  for (const auto& c : cases) {
    ScriptedServer server([&](const std::string&, int index) { return index == 0 ? c.first : c.later; });
    auto engine = OpenEngine(server.Url("/f"));
    HttpEngineSetIdleTimeout(engine.get(), 150);
    int32_t last;
    EXPECT_EQ(ReadAll(engine.get(), 4096, &last), c.delivered) << c.name;
    EXPECT_EQ(last, kUriAborted) << c.name;
  }
}

TEST(HttpStalledServerTest, AbortFromAnotherThreadEndsABlockingRead) {
  ScriptedServer server([](const std::string&, int) { return Reply{"", true}; });
  auto engine = OpenEngine(server.Url("/f"));
  HttpEngineSetIdleTimeout(engine.get(), 2000);  // bounds the test should the abort be missed
  auto reading = std::async(std::launch::async, [&engine] {
    char buffer[16];
    uint32_t count = sizeof buffer;
    return HttpEngineRead(engine.get(), buffer, &count, true);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  HttpEngineAbort(engine.get());
  ASSERT_EQ(reading.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(reading.get(), kUriAborted);
}

// A refused connect fails at once, without retrying.
TEST(HttpEngineScriptedTest, ReadsFromAnIpv6LiteralAndFailsARefusedConnect) {
  ScriptedServer server([](const std::string&, int) { return Reply{Partial("hello", 5)}; }, "::1");
  ASSERT_NE(server.Port(), 0);
  EXPECT_EQ(ReadAll(OpenEngine(server.Url("/v6", "[::1]")).get(), 100), "hello");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_NE(server.Requests()[0].find("\r\nHost: [::1]:" + std::to_string(server.Port()) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(HttpEngineWaitConnected(OpenEngine("http://127.0.0.1:1/x").get()), kUriFailed);
}

TEST(HttpEngineScriptedTest, ForwardOnlyBodyEndsWhenTheServerCloses) {
  std::string body(100000, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 251);
  ScriptedServer server([&](const std::string&, int) { return Reply{"HTTP/1.0 200 OK\r\n\r\n" + body}; });
  auto engine = OpenEngine(server.Url("/live"), 32, 0x10000, 0, 1);
  EXPECT_EQ(HttpEnginePrefetch(engine.get(), 0, 10), kUriNotSupported);
  int32_t last;
  EXPECT_EQ(ReadAll(engine.get(), 4096, &last), body);
  EXPECT_EQ(last, kUriEnd);
  uint64_t size = 0;
  EXPECT_TRUE(HttpEngineSize(engine.get(), &size));
  EXPECT_EQ(size, body.size());
  EXPECT_EQ(HttpEngineSeek(engine.get(), kSeekAbsolute, 5, true), kUriNotSupported);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].substr(0, 20), "GET /live HTTP/1.0\r\n");
  EXPECT_EQ(server.Requests()[0].find("Range"), std::string::npos);
}

TEST(HttpEngineCreateTest, RefusesUnusableSettingsAndGivesTheArenaBack) {
  std::vector<uint8_t> buffer(0x400000);
  VexaOS::ArenaDescriptor descriptor{buffer.data(), static_cast<uint32_t>(buffer.size()), 8};
  VexaOS::MemoryArena* arena = VexaOS::ArenaCreate(&descriptor);
  const struct { const char* url; uint32_t blockCount, blockSize; bool made; } cases[] = {
      {"http://h/", 32, 0x10000, true}, {"http://h/", 0, 0x10000, false}, {"http://h/", 32, 3000, false},
      {"ftp://h/", 32, 0x10000, false}, {"http://h/", 64, 0x10000, false}};  // 4 MiB of blocks
  for (const auto& c : cases) {
    HttpSettings settings;
    HttpSettingsDefaults(&settings);
    settings.blockCount = c.blockCount;
    settings.blockSize = c.blockSize;
    HttpEngine* engine = HttpEngineCreate(c.url, arena, &settings);
    EXPECT_EQ(engine != nullptr, c.made) << c.blockCount << " " << c.blockSize;
    HttpEngineDestroy(engine);
    void* whole = VexaOS::ArenaAlloc(arena, 0x3F0000);  // all of it went back
    EXPECT_NE(whole, nullptr);
    VexaOS::ArenaFree(arena, whole);
  }
}

}  // namespace
}  // namespace VexaHttp
