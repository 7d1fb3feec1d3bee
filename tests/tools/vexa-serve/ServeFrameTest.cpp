// The server's frame: the served folder's ids never lead out of the root, and the HTTP listener
// keeps its connections within bounds. (That the device keeps its identity across restarts and
// that SIGTERM ends it cleanly, the UPnP control point's test shows.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/os/InterfaceAddress.h"
#include "tests/tools/vexa-serve/ServeProcess.h"
#include "tools/vexa-serve/HttpFront.h"
#include "tools/vexa-serve/MediaLibrary.h"

namespace fs = std::filesystem;
using ProcessTestTools::TempDir;

namespace {

TEST(MediaLibrary, IdsNeverLeadOutOfTheRoot) {
  TempDir dir("serve-library");
  fs::path root = dir.path() / "root";
  fs::create_directories(root / "films");
  std::ofstream(root / "films" / "a.mkv") << "x";
  std::ofstream(root / "films" / "a.srt") << "1\n";
  std::ofstream(dir.path() / "secret.mkv") << "x";
  fs::create_symlink(dir.path() / "secret.mkv", root / "out.mkv");
  fs::create_symlink(root / "films" / "a.mkv", root / "in.mkv");
  MediaLibrary library;
  std::string error;
  ASSERT_TRUE(library.Open(root.string(), &error)) << error;
  const struct { const char* id; LookupResult result; } cases[] = {
      {"0", LookupResult::kFound},
      {"films", LookupResult::kFound},
      {"films/a.mkv", LookupResult::kFound},
      {"in.mkv", LookupResult::kFound},  // a link that stays inside
      {"films/a.srt", LookupResult::kNotFound},  // not an item (a file for FindFile)
      {"films/none.mkv", LookupResult::kNotFound},
      {"out.mkv", LookupResult::kOutsideRoot},
      {"../secret.mkv", LookupResult::kOutsideRoot},
      {"films/../../secret.mkv", LookupResult::kOutsideRoot},
      {"films/./a.mkv", LookupResult::kOutsideRoot},
      {"/etc/passwd", LookupResult::kOutsideRoot},
      {"films//a.mkv", LookupResult::kOutsideRoot},
      {"", LookupResult::kOutsideRoot},
  };
  for (const auto& c : cases) {
    MediaEntry entry;
    EXPECT_EQ(library.Find(c.id, &entry), c.result) << c.id;
  }
  MediaEntry item;
  ASSERT_EQ(library.Find("films/a.mkv", &item), LookupResult::kFound);
  EXPECT_EQ(item.parentId, "films");
  EXPECT_EQ(item.title, "a");
  EXPECT_EQ(item.subtitleId, "films/a.srt");
  std::vector<MediaEntry> top;
  ASSERT_EQ(library.List("0", &top), LookupResult::kFound);
  ASSERT_EQ(top.size(), 2u);  // the folder first, then the link inside; never the one outside
  EXPECT_EQ(top[0].id, "films");
  EXPECT_EQ(top[1].id, "in.mkv");
}

// Small limits so that a handful of sockets reach them: a request line and headers past the
// connection's memory are refused, requests past the busy mark get 503 with Retry-After, the
// listener takes no connection past its limit, and a silent connection is closed.
TEST(HttpFront, KeepsConnectionsWithinItsLimits) {
  HttpFront front;
  front.Route("GET", "/", [](const HttpExchange& exchange) {
    return exchange.RespondText(200, "ok\n");
  });
  std::string error;
  ASSERT_TRUE(front.Start("127.0.0.1", 0, HttpLimits{4, 2, 2, 4096, 1024}, &error)) << error;
  const std::string kGet = "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n";

  RawClient alone(front.Port());
  alone.Send(kGet + "\r\n");
  EXPECT_EQ(alone.Read().rfind("HTTP/1.1 200", 0), 0u);
  RawClient huge(front.Port());
  huge.Send(kGet + "X-Filler: " + std::string(8192, 'a') + "\r\n\r\n");
  std::string refused = huge.Read();
  EXPECT_TRUE(huge.Closed() && (refused.empty() || refused.rfind("HTTP/1.1 4", 0) == 0))
      << refused.substr(0, 80);

  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 2; ++i) idle.push_back(std::make_unique<RawClient>(front.Port()));
  RawClient busy(front.Port());
  busy.Send(kGet + "\r\n");
  std::string answer = busy.Read();
  EXPECT_EQ(answer.rfind("HTTP/1.1 503", 0), 0u) << answer;
  EXPECT_NE(answer.find("Retry-After: "), std::string::npos) << answer;
  for (int i = 0; i < 2; ++i) idle.push_back(std::make_unique<RawClient>(front.Port()));
  RawClient past(front.Port());  // the kernel may accept it; the listener closes it unanswered
  past.Send(kGet + "\r\n");
  EXPECT_EQ(past.Read(), "");
  EXPECT_TRUE(past.Closed());
  EXPECT_LE(front.OpenConnections(), 4u);
  // The idle ones are closed after two seconds of silence (Read gives up after 20 s of silence).
  for (auto& client : idle) {
    EXPECT_EQ(client->Read(), "");
    EXPECT_TRUE(client->Closed());
  }
  // The listener counts a connection out just after closing its socket.
  EXPECT_TRUE(ProcessTestTools::WaitFor([&] { return front.OpenConnections() == 0; })) << front.OpenConnections();
}

// A listener on every address hands each client URLs at the address that client reached (Linux
// routes all of 127/8 to the loopback), and the loopback is among the addresses announced on.
TEST(HttpFront, AnswersNameTheAddressEachClientReached) {
  std::vector<std::string> up;
  ASSERT_TRUE(VexaOS::UpInterfaceIpv4Addresses(&up));
  EXPECT_NE(std::find(up.begin(), up.end(), "127.0.0.1"), up.end());
  HttpFront front;
  front.Route("GET", "/", [](const HttpExchange& exchange) {
    return exchange.RespondText(200, exchange.BaseUrl());
  });
  std::string error;
  ASSERT_TRUE(front.Start("", 0, HttpLimits{}, &error)) << error;
  for (const char* address : {"127.0.0.1", "127.0.0.2"}) {
    RawClient client(front.Port(), address);
    client.Send("GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    std::string answer = client.Read();
    EXPECT_EQ(answer.substr(answer.find("\r\n\r\n") + 4),
              std::string("http://") + address + ":" + std::to_string(front.Port()));
  }
}

}  // namespace
