// The UPnP device's parts: DIDL-Lite shows any file name as text, Browse pages through a folder,
// and SSDP searches are answered for what they ask for. (Control requests, and a real control
// point that browses the whole tree: ServeClientsTest.)
#include <gtest/gtest.h>
#include <ixml.h>

#include <cstdint>
#include <memory>

#include "tools/vexa-serve/ContentDirectory.h"
#include "tools/vexa-serve/DidlLite.h"
#include "tools/vexa-serve/SsdpMessages.h"

namespace {

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

}  // namespace
