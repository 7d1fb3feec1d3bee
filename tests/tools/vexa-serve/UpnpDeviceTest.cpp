// The UPnP device: DIDL-Lite shows any file name as text, Browse pages through a folder, bad
// control requests get their UPnP errors, and a real GUPnP control point finds the server on lo
// and browses its whole tree, seeing the plug-in's offers for the client it claims to be.
#include <gtest/gtest.h>
#include <ixml.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "tests/tools/vexa-serve/ServeProcess.h"
#include "tools/vexa-serve/ContentDirectory.h"
#include "tools/vexa-serve/DidlLite.h"
#include "tools/vexa-serve/SsdpMessages.h"

namespace fs = std::filesystem;
using ProcessTestTools::TempDir;

namespace {

constexpr char kMp2tInfo[] = "http-get:*:video/MP2T:MPEG_PS_NTSC;DLNA.ORG_OP=10";

struct DocumentFree {
  void operator()(IXML_Document* document) const { ixmlDocument_free(document); }
};

// What a client parsing the document reads: each element named tag, its text or attribute.
std::vector<std::string> Parsed(const std::string& xml, const char* tag, const char* attribute = nullptr) {
  std::unique_ptr<IXML_Document, DocumentFree> document(ixmlParseBuffer(xml.c_str()));
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

// A served folder: films/a&b".mkv with its subtitle, an empty folder, and <script>x.mkv.
class UpnpServer : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTestEnvironment();
    m_video = MakeMkvFixture("h264_aac");
    ASSERT_FALSE(m_video.empty());
    fs::path root = Root();
    fs::create_directories(root / "films");
    fs::create_directories(root / "empty");
    fs::copy_file(m_video, root / "films" / "a&b\".mkv");
    fs::copy_file(m_video, root / "<script>x.mkv");
    std::ofstream(root / "films" / "a&b\".srt") << "1\n00:00:01,000 --> 00:00:02,000\nhi\n";
    StartServer();
  }

  fs::path Root() const { return m_dir.path() / "root"; }

  void StartServer() {
    m_server = std::make_unique<ServeProcess>(Root().string(), (m_dir.path() / "settings").string(),
                                              std::vector<std::string>{"--name", "Vexa & <Test>"});
    ASSERT_FALSE(m_server->Url().empty()) << m_server->Log();
  }

  // curl's answer to a request: the status line's code, then the body.
  std::string Curl(const std::string& arguments, const std::string& path) {
    return RunShell("curl -s -m 20 -w '\n%{http_code}' " + arguments + " '" + m_server->Url() +
                    path + "'").output;
  }

  std::string Control(const char* service, const char* action, const std::string& arguments,
                      const char* path) {
    std::ofstream(m_dir.path() / "body.xml")
        << "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\">"
           "<s:Body><u:" << action << " xmlns:u=\"urn:schemas-upnp-org:service:" << service
        << ":1\">" << arguments << "</u:" << action << "></s:Body></s:Envelope>";
    return Curl("-X POST -H 'Content-Type: text/xml' --data-binary @'" +
                    (m_dir.path() / "body.xml").string() + "'", path);
  }

  // The control point's report of the whole tree for a client with this User-Agent.
  CommandResult Browse(const std::string& userAgent) {
    return RunShell("timeout 90 /usr/bin/python3 " UPNP_CONTROL_POINT " '" + m_server->Udn() + "' '" +
                    userAgent + "' 30");
  }

  TempDir m_dir{"serve-upnp"};
  std::string m_video;
  std::unique_ptr<ServeProcess> m_server;
};

TEST_F(UpnpServer, BadControlRequestsGetTheirErrors) {
  const char* cd = "ContentDirectory";
  const char* cm = "ConnectionManager";
  auto browse = [](const std::string& id, const std::string& flag, const std::string& start) {
    return "<ObjectID>" + id + "</ObjectID><BrowseFlag>" + flag + "</BrowseFlag><Filter>*</Filter>"
           "<StartingIndex>" + start + "</StartingIndex><RequestedCount>0</RequestedCount>"
           "<SortCriteria></SortCriteria>";
  };
  // Posted to the service's own control URL, or to the one given.
  const struct { const char* service; const char* action; std::string arguments; std::string expected;
                 const char* path = nullptr; } cases[] = {
      {cd, "Browse", browse("0", "BrowseMetadata", "0"), "<NumberReturned>1<"},
      {cd, "Browse", browse("films", "BrowseDirectChildren", "1"), "<NumberReturned>0</NumberReturned><TotalMatches>1<"},
      {cd, "GetSortCapabilities", "", "<SortCaps></SortCaps>"},
      {cm, "GetProtocolInfo", "", kOriginalProtocolInfo},
      {cm, "GetCurrentConnectionInfo", "<ConnectionID>0</ConnectionID>", "<Status>OK</Status>"},
      {cd, "Frobnicate", "", "<errorCode>401<"},
      {cm, "GetProtocolInfo", "", "<errorCode>401<", ServeUrls::kContentDirectoryControl},  // another service's
      {cd, "Browse", browse("0", "BrowseAll", "0"), "<errorCode>402<"},
      {cd, "Browse", browse("0", "BrowseMetadata", "-1"), "<errorCode>402<"},
      {cd, "Browse", "<BrowseFlag>BrowseMetadata</BrowseFlag>", "<errorCode>402<"},
      {cd, "Browse", browse("films/none.mkv", "BrowseMetadata", "0"), "<errorCode>701<"},
      {cd, "Browse", browse("../root", "BrowseDirectChildren", "0"), "<errorCode>701<"},
      {cd, "Browse", browse("films/a&amp;b\".mkv", "BrowseDirectChildren", "0"), "<errorCode>710<"},
      {cm, "GetCurrentConnectionInfo", "<ConnectionID>5</ConnectionID>", "<errorCode>706<"},
  };
  for (const auto& c : cases) {
    const char* own = std::string(c.service) == cd ? ServeUrls::kContentDirectoryControl : ServeUrls::kConnectionManagerControl;
    std::string answer = Control(c.service, c.action, c.arguments, c.path ? c.path : own);
    bool fault = c.expected.rfind("<errorCode>", 0) == 0;
    EXPECT_NE(answer.find(c.expected), std::string::npos) << c.action << " " << c.arguments << answer;
    EXPECT_EQ(answer.substr(answer.size() - 3), fault ? "500" : "200") << c.action << answer;
  }
  std::ofstream(m_dir.path() / "body.xml") << "not xml";
  EXPECT_NE(Curl("-X POST --data-binary @'" + (m_dir.path() / "body.xml").string() + "'",
                 ServeUrls::kContentDirectoryControl)
                .find("<errorCode>401<"), std::string::npos);
  std::string subscribed = Curl("-i -X SUBSCRIBE -H 'CALLBACK: <http://127.0.0.1:9/>' -H 'NT: upnp:event'",
                                ServeUrls::kContentDirectoryEvents);
  EXPECT_NE(subscribed.find("SID: " + m_server->Udn()), std::string::npos) << subscribed;
  EXPECT_EQ(Curl("-X SUBSCRIBE", ServeUrls::kContentDirectoryEvents), "\n412");
}

TEST_F(UpnpServer, ControlPointFindsItAndBrowsesTheWholeTree) {
  // The plug-in remembers a recognised client by its address: the unknown client asks first.
  CommandResult unknown = Browse("Mozilla/5.0");
  ASSERT_EQ(unknown.exitCode, 0) << unknown.output << m_server->Log();
  EXPECT_EQ(unknown.output.find("/stream/"), std::string::npos) << unknown.output;

  CommandResult offered = RunShell(std::string("'") + VEXA_TRANSCODE + "' --offers '" + m_video + "'");
  ASSERT_EQ(offered.exitCode, 0);
  std::istringstream fields(offered.output);
  std::string index, protocolInfo, duration;
  std::getline(fields, index, '\t');
  std::getline(fields, protocolInfo, '\t');
  std::getline(fields, duration, '\n');
  ASSERT_EQ(protocolInfo.rfind(kMp2tInfo, 0), 0u) << offered.output;

  CommandResult ps3 = Browse(kPs3UserAgent);
  ASSERT_EQ(ps3.exitCode, 0) << ps3.output << m_server->Log();
  std::string url = m_server->Url(), size = std::to_string(fs::file_size(m_video));
  std::string film = "films/a&b\".mkv";
  std::string expected =
      "server\tVexa & <Test>\n"
      "container\t0\t-1\troot\t3\n"
      "container\tempty\t0\tempty\t0\n"
      "container\tfilms\t0\tfilms\t1\n"
      "item\t" + film + "\tfilms\ta&b\"\tobject.item.videoItem\n"
      "res\t" + film + "\thttp-get:*:video/x-matroska:*\t\t" + size + "\t" + url + "/media/films/a%26b%22.mkv\n"
      "res\t" + film + "\t" + protocolInfo + "\t" + duration + "\t\t" + url + "/stream/" + index +
      "/films/a%26b%22.mkv\n"
      "res\t" + film + "\thttp-get:*:text/srt:*\t\t\t" + url + "/media/films/a%26b%22.srt\n"
      "caption\t" + film + "\t" + url + "/media/films/a%26b%22.srt\n"
      "item\t<script>x.mkv\t0\t<script>x\tobject.item.videoItem\n"
      "res\t<script>x.mkv\thttp-get:*:video/x-matroska:*\t\t" + size + "\t" + url + "/media/%3Cscript%3Ex.mkv\n"
      "res\t<script>x.mkv\t" + protocolInfo + "\t" + duration + "\t\t" + url + "/stream/" + index +
      "/%3Cscript%3Ex.mkv\n";
  EXPECT_EQ(ps3.output, expected);
}

TEST_F(UpnpServer, ControlPointSeesItGoAndComeBack) {
  std::string udn = m_server->Udn(), events = (m_dir.path() / "events.txt").string();
  RunShell("(timeout 90 /usr/bin/python3 " UPNP_CONTROL_POINT " --watch '" + udn + "' 60 3 > '" +
           events + "' 2>&1 &)");
  auto seen = [&](const std::string& lines) {
    return ProcessTestTools::WaitFor([&] { return ReadFileText(events).find(lines) != std::string::npos; });
  };
  ASSERT_TRUE(seen("available " + udn + "\n")) << ReadFileText(events);  // found by searching
  EXPECT_EQ(m_server->Stop(), 0);
  EXPECT_TRUE(seen("gone " + udn + "\n")) << ReadFileText(events);  // told by its byebye
  StartServer();
  EXPECT_TRUE(seen("gone " + udn + "\navailable " + udn + "\n")) << ReadFileText(events);
}

}  // namespace
