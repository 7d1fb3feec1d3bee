// The engine against scripted servers: hostile and broken answers, redirect chains, where
// credentials go, silent and stalling servers, an abort from another thread, IPv6, and a body
// of unknown length.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include "platform/http/HttpEngine.h"
#include "tests/platform/http/ScriptedServer.h"

namespace VexaHttp {
namespace {

using namespace VexaFiles;
using HttpTest::Reply;
using HttpTest::ScriptedServer;

HttpEngine* Open(const std::string& url, bool forwardOnly = false) {
  HttpSettings settings;
  HttpSettingsDefaults(&settings);
  settings.forwardOnly = forwardOnly ? 1 : 0;
  return HttpEngineCreate(url.c_str(), nullptr, &settings);
}

std::string Partial(const std::string& body, size_t total, const std::string& extra = "") {
  return "HTTP/1.1 206 P\r\nContent-Range: bytes 0-" + std::to_string(body.size() - 1) + "/" +
         std::to_string(total) + "\r\n" + extra + "\r\n" + body;
}

std::string Path(const std::string& request) { return request.substr(4, request.find(' ', 4) - 4); }

// Reads until the engine stops answering kUriOk; the last answer goes to *last.
std::string ReadAll(HttpEngine* engine, int32_t* last) {
  std::string out;
  char buffer[4096];
  uint32_t count;
  do {
    count = sizeof buffer;
    *last = HttpEngineRead(engine, buffer, &count, true);
    out.append(buffer, count);
  } while (*last == kUriOk && count != 0);
  return out;
}

struct HostileCase {
  const char* name;
  std::string reply;
  int32_t expected;
};
void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

class HttpHostileReplyTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HttpHostileReplyTest, AnswersWithANamedResult) {
  ScriptedServer server([](const std::string&, int) { return Reply{GetParam().reply, true}; });
  HttpEngine* engine = Open(server.Url("/f"));
  EXPECT_EQ(HttpEngineWaitConnected(engine), GetParam().expected) << GetParam().name;
  HttpEngineDestroy(engine);
}

INSTANTIATE_TEST_SUITE_P(Replies, HttpHostileReplyTest, ::testing::Values(
    HostileCase{"short range ending the resource", Partial("0123456789", 10), kUriOk},
    HostileCase{"chunked body", Partial("5\r\nhello", 10, "Transfer-Encoding: chunked\r\n"), kUriNotSupported},
    HostileCase{"range at another offset", "HTTP/1.1 206 P\r\nContent-Range: bytes 10-19/100\r\n\r\n", kUriFailed},
    HostileCase{"short range inside", Partial("0123456789", 100), kUriFailed},
    HostileCase{"length against range", Partial("0123456789", 10, "Content-Length: 5\r\n"), kUriFailed},
    HostileCase{"total overflows", "HTTP/1.1 206 P\r\nContent-Range: bytes 0-9/99999999999999999999999\r\n\r\n", kUriFailed},
    HostileCase{"whole body for a range", "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n", kUriFailed},
    HostileCase{"not a status line", "ICY 200 OK\r\n\r\n", kUriFailed},
    HostileCase{"header past the buffer", "HTTP/1.1 206 P\r\nX: " + std::string(3000, 'a'), kUriTooSmall},
    HostileCase{"not found", "HTTP/1.1 404 N\r\n\r\n", kHttpNotFound},
    HostileCase{"forbidden", "HTTP/1.0 403 F\r\n\r\n", kHttpForbidden},
    HostileCase{"credentials asked", "HTTP/1.1 401 A\r\n\r\n", kUriAuthRefused},
    HostileCase{"empty location", "HTTP/1.1 302 F\r\nLocation: \r\n\r\n", kUriFailed},
    HostileCase{"location of another scheme", "HTTP/1.1 302 F\r\nLocation: ftp://h/x\r\n\r\n", kUriNotSupported}));

TEST(HttpRedirectChainTest, TwentiethRedirectIsTooMany) {
  for (int hops : {19, 20}) {
    ScriptedServer* self = nullptr;
    ScriptedServer server([&](const std::string& request, int index) {
      if (index >= hops) return Reply{Partial("0123456789", 10), false};
      return Reply{"HTTP/1.1 302 F\r\nLocation: " + self->Url("/hop" + std::to_string(index + 1)) +
                   "\r\nContent-Length: 0\r\n\r\n" + Path(request), false};
    });
    self = &server;
    HttpEngine* engine = Open(server.Url("/hop0"));
    if (hops == 19) {
      int32_t last;
      EXPECT_EQ(ReadAll(engine, &last), "0123456789");
      EXPECT_EQ(last, kUriEnd);
      EXPECT_EQ(Path(server.Requests().back()), "/hop19");
    } else {
      EXPECT_EQ(HttpEngineWaitConnected(engine), kHttpTooManyRedirects);
      EXPECT_EQ(server.Requests().size(), 20u);
    }
    HttpEngineDestroy(engine);
  }
}

TEST(HttpRedirectChainTest, CredentialsStayWithTheirHost) {
  ScriptedServer other([](const std::string&, int) { return Reply{Partial("0123456789", 10), false}; });
  ScriptedServer asking([&](const std::string& request, int) {
    std::string target = Path(request) == "/start" ? "/again" : other.Url("/x");
    return Reply{"HTTP/1.1 302 F\r\nLocation: " + target + "\r\n\r\n", false};
  });
  HttpEngine* engine = Open("http://user:pw@127.0.0.1:" + std::to_string(asking.Port()) + "/start");
  int32_t last;
  EXPECT_EQ(ReadAll(engine, &last), "0123456789");
  HttpEngineDestroy(engine);
  ASSERT_EQ(asking.Requests().size(), 2u);
  for (const std::string& request : asking.Requests()) {
    EXPECT_NE(request.find("Authorization: Basic dXNlcjpwdw==\r\n"), std::string::npos) << request;
  }
  ASSERT_EQ(other.Requests().size(), 1u);
  EXPECT_EQ(other.Requests()[0].find("Authorization"), std::string::npos) << other.Requests()[0];
}

struct StallCase {
  const char* name;
  ScriptedServer::Script script;
  std::string delivered;
};

TEST(HttpStalledServerTest, BlockingReadGivesUp) {
  const StallCase cases[] = {
      {"silent", [](const std::string&, int) { return Reply{"", true}; }, ""},
      {"closes at once", [](const std::string&, int) { return Reply{"", false}; }, ""},
      {"stalls in the body", [](const std::string&, int index) {
         std::string reply = Partial(std::string(100, 'b'), 100);
         return Reply{index == 0 ? reply.substr(0, reply.find("\r\n\r\n") + 4 + 50) : "", true};
       }, std::string(50, 'b')},
  };
  for (const StallCase& c : cases) {
    ScriptedServer server(c.script);
    HttpEngine* engine = Open(server.Url("/f"));
    HttpEngineSetIdleTimeout(engine, 150);
    int32_t last;
    EXPECT_EQ(ReadAll(engine, &last), c.delivered) << c.name;
    EXPECT_EQ(last, kUriAborted) << c.name;
    HttpEngineDestroy(engine);
  }
}

TEST(HttpStalledServerTest, AbortFromAnotherThreadEndsABlockingRead) {
  ScriptedServer server([](const std::string&, int) { return Reply{"", true}; });
  HttpEngine* engine = Open(server.Url("/f"));
  HttpEngineSetIdleTimeout(engine, 2000);  // bounds the test should the abort be missed
  auto reading = std::async(std::launch::async, [engine] {
    char buffer[16];
    uint32_t count = sizeof buffer;
    return HttpEngineRead(engine, buffer, &count, true);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  HttpEngineAbort(engine);
  ASSERT_EQ(reading.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(reading.get(), kUriAborted);
  HttpEngineDestroy(engine);
}

TEST(HttpEngineScriptedTest, ReadsFromAnIpv6Literal) {
  ScriptedServer server([](const std::string&, int) { return Reply{Partial("hello", 5), false}; }, true);
  ASSERT_NE(server.Port(), 0);
  HttpEngine* engine = Open(server.Url("/v6", "[::1]"));
  int32_t last;
  EXPECT_EQ(ReadAll(engine, &last), "hello");
  HttpEngineDestroy(engine);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_NE(server.Requests()[0].find("\r\nHost: [::1]:" + std::to_string(server.Port()) + "\r\n"),
            std::string::npos);
}

TEST(HttpEngineScriptedTest, ForwardOnlyBodyEndsWhenTheServerCloses) {
  std::string body(100000, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 251);
  ScriptedServer server([&](const std::string&, int) { return Reply{"HTTP/1.0 200 OK\r\n\r\n" + body, false}; });
  HttpEngine* engine = Open(server.Url("/live"), true);
  ASSERT_EQ(HttpEngineWaitConnected(engine), kUriOk);
  EXPECT_FALSE(HttpEngineSize(engine, nullptr));
  EXPECT_EQ(HttpEnginePrefetch(engine, 0, 10), kUriNotSupported);
  int32_t last;
  EXPECT_EQ(ReadAll(engine, &last), body);
  EXPECT_EQ(last, kUriEnd);
  uint64_t size = 0;
  EXPECT_TRUE(HttpEngineSize(engine, &size));
  EXPECT_EQ(size, body.size());
  EXPECT_EQ(HttpEngineSeek(engine, kSeekAbsolute, 5, true), kUriNotSupported);
  HttpEngineDestroy(engine);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].substr(0, 20), "GET /live HTTP/1.0\r\n");
  EXPECT_EQ(server.Requests()[0].find("Range"), std::string::npos);
}

}  // namespace
}  // namespace VexaHttp
