// vexa-serve's parts, without the server program: the served folder's ids never lead out of the
// root, the HTTP listener keeps its connections within bounds, DIDL-Lite shows any file name as
// text, Browse pages through a folder, SSDP searches are answered for what they ask for, and the
// web page's HTML never lets a file name become markup. (The server with real clients:
// ServeClientsTest.)
#include <gtest/gtest.h>
#include <ixml.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/os/InterfaceAddress.h"
#include "tests/tools/vexa-serve/ServeProcess.h"
#include "tools/vexa-serve/ContentDirectory.h"
#include "tools/vexa-serve/DidlLite.h"
#include "tools/vexa-serve/HttpFront.h"
#include "tools/vexa-serve/MediaLibrary.h"
#include "tools/vexa-serve/PageHtml.h"
#include "tools/vexa-serve/SsdpMessages.h"

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

// What a client parsing the document reads: each element named tag, its text or attribute.
std::vector<std::string> Parsed(const std::string& xml, const char* tag, const char* attribute = nullptr) {
  std::unique_ptr<IXML_Document, decltype(&ixmlDocument_free)> document(ixmlParseBuffer(xml.c_str()),
                                                                        ixmlDocument_free);
  EXPECT_TRUE(document) << xml;
  std::vector<std::string> found;
  IXML_NodeList* nodes = document ? ixmlDocument_getElementsByTagName(document.get(), tag) : nullptr;
  for (unsigned long i = 0; nodes && i < ixmlNodeList_length(nodes); ++i) {
    IXML_Node* node = ixmlNodeList_item(nodes, i);
    const char* text = nullptr;
    if (attribute)
      text = ixmlElement_getAttribute(reinterpret_cast<IXML_Element*>(node), attribute);
    else if (IXML_Node* child = ixmlNode_getFirstChild(node))
      text = ixmlNode_getNodeValue(child);
    found.push_back(text ? text : "");
  }
  ixmlNodeList_free(nodes);
  return found;
}

TEST(DidlLite, AnyNameComesBackAsText) {
  const struct { std::string title, read; } cases[] = {
      {"<script>x</script>", "<script>x</script>"},
      {"a&b\".mkv", "a&b\".mkv"},
      {"it's > 'that'", "it's > 'that'"},
      {"\xC3\xA9t\xC3\xA9 \xE6\x97\xA5", "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5"},  // kept as UTF-8
      {"bell\x07", "bell\xEF\xBF\xBD"},                          // not allowed in XML
      {"cut\xE2\x82", "cut\xEF\xBF\xBD\xEF\xBF\xBD"},           // a sequence cut short
      {"long\xC0\xAF", "long\xEF\xBF\xBD\xEF\xBF\xBD"},         // an overlong '/'
      {"half\xED\xA0\x80", "half\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
  };
  for (const auto& c : cases) {
    MediaEntry item{"d/" + c.title + ".mkv", "d", c.title, "/x", false, 7, 0, ""};
    std::string didl = WriteDidlLite({DescribeItem(item, "http://127.0.0.1:8200", {})});
    EXPECT_EQ(Parsed(didl, "dc:title"), std::vector<std::string>{c.read}) << didl;
    EXPECT_EQ(Parsed(didl, "item", "id"), std::vector<std::string>{"d/" + c.read + ".mkv"});
  }
}

TEST(ContentDirectory, PagesCoverEachChildOnce) {
  const struct { size_t total; uint32_t start, count; size_t begin, end; } cases[] = {
      {5, 0, 0, 0, 5},  {5, 0, 2, 0, 2},  {5, 2, 2, 2, 4},          {5, 4, 2, 4, 5},
      {5, 5, 2, 5, 5},  {5, 9, 0, 5, 5},  {0, 0, 0, 0, 0},          {5, 2, UINT32_MAX, 2, 5},
      {5, UINT32_MAX, UINT32_MAX, 5, 5},
  };
  for (const auto& c : cases) {
    BrowsePage page = PageOf(c.total, c.start, c.count);
    EXPECT_EQ(page.begin, c.begin) << c.total << " " << c.start << " " << c.count;
    EXPECT_EQ(page.end, c.end) << c.total << " " << c.start << " " << c.count;
  }
}

TEST(Ssdp, SearchesAreAnsweredForWhatTheyAskFor) {
  SsdpDevice device{"uuid:1", "urn:d:MediaServer:1", {"urn:s:A:1", "urn:s:B:1"}, "http://h/d.xml", 60};
  auto search = [](const std::string& headers) { return "M-SEARCH * HTTP/1.1\r\n" + headers + "\r\n"; };
  const struct { std::string datagram; std::vector<std::string> usns; } cases[] = {
      {search("HOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 1\r\nST: ssdp:all\r\n"),
       {"uuid:1::upnp:rootdevice", "uuid:1", "uuid:1::urn:d:MediaServer:1", "uuid:1::urn:s:A:1",
        "uuid:1::urn:s:B:1"}},
      {search("man: \"ssdp:discover\"\r\nst: upnp:rootdevice\r\n"), {"uuid:1::upnp:rootdevice"}},
      {search("MAN:\"ssdp:discover\"\nST:uuid:1\n"), {"uuid:1"}},
      {search("MAN: \"ssdp:discover\"\r\nST: urn:s:B:1\r\n"), {"uuid:1::urn:s:B:1"}},
      {search("MAN: \"ssdp:discover\"\r\nST: urn:d:MediaRenderer:1\r\n"), {}},
      {search("ST: ssdp:all\r\n"), {}},                                   // no MAN
      {search("MAN: \"ssdp:discover\"\r\n"), {}},                         // no ST
      {"NOTIFY * HTTP/1.1\r\nMAN: \"ssdp:discover\"\r\nST: ssdp:all\r\n\r\n", {}},
  };
  for (const auto& c : cases) {
    std::string target;
    std::vector<std::string> usns;
    if (ParseSearch(c.datagram, &target))
      for (const SsdpTarget& found : TargetsFound(device, target)) {
        usns.push_back(found.usn);
        EXPECT_NE(SearchAnswer(device, found).find("\r\nST: " + found.type + "\r\n"), std::string::npos);
      }
    EXPECT_EQ(usns, c.usns) << c.datagram;
  }
}

// Every place a name reaches (title, path, folder, item, offer, button attributes) holds it
// escaped, and nowhere raw.
TEST(PageHtml, NamesNeverBecomeMarkup) {
  const struct { std::string raw, escaped; } names[] = {
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"a&b\"", "a&amp;b&quot;"},
      {"x' onmouseover='y", "x&#39; onmouseover=&#39;y"},
  };
  for (const auto& [name, escaped] : names) {
    PageItem item{name, name, {{name, name, name}}, name, 0};
    std::string html =
        BuildPageHtml({name, {{name, "/"}, {name, "/?id=" + name}}, {{name, name}}, {item}, ""});
    EXPECT_EQ(html.find(name), std::string::npos) << name;
    EXPECT_NE(html.find("data-title=\"" + escaped + "\""), std::string::npos) << name;
  }
  EXPECT_EQ(HtmlEscape("&amp;"), "&amp;amp;");  // a name that looks escaped is still a name
  EXPECT_EQ(HtmlEscape("\xC3\xA9t\xC3\xA9 \xE6\x97\xA5"), "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5");  // UTF-8 untouched
}

}  // namespace
