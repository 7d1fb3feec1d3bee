// The web page's HTML never lets a file name become markup. (Its URLs, and a real browser playing
// through it: ServeClientsTest.)
#include <gtest/gtest.h>

#include <string>

#include "tools/vexa-serve/PageHtml.h"

namespace {

TEST(PageHtml, EscapesTextAndAttributeValues) {
  const struct { const char* raw; const char* escaped; } cases[] = {
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"a&b\".mkv", "a&amp;b&quot;.mkv"},
      {"it's", "it&#39;s"},
      {"&amp;", "&amp;amp;"},  // a name that looks escaped is still a name
      {"\xC3\xA9t\xC3\xA9 \xE6\x97\xA5", "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5"},  // UTF-8 untouched
  };
  for (const auto& c : cases) EXPECT_EQ(HtmlEscape(c.raw), c.escaped) << c.raw;
}

// Every place a name reaches (title, path, folder, item, offer, button attributes) holds it
// escaped, and nowhere raw.
TEST(PageHtml, NamesNeverBecomeMarkup) {
  for (const std::string name : {"<script>alert(1)</script>", "a&b\"", "x' onmouseover='y"}) {
    PageItem item{name, name, {{name, name, name}}, name, 0};
    std::string html =
        BuildPageHtml({name, {{name, "/"}, {name, "/?id=" + name}}, {{name, name}}, {item}, ""});
    EXPECT_EQ(html.find(name), std::string::npos) << name;
    EXPECT_NE(html.find("data-title=\"" + HtmlEscape(name) + "\""), std::string::npos) << name;
  }
}

}  // namespace
