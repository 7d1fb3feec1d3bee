// The web page's HTML, built from a plain description of one folder: the path to it, its
// folders, and its items with the plug-in's offers. Every text that comes from a file name or
// from the plug-in is escaped here, in element content and attribute values alike.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct PageLink {
  std::string title;
  std::string url;
};

struct PageOffer {
  std::string protocolInfo;
  std::string duration;  // "H:MM:SS.F" as the plug-in gives it, or empty
  std::string url;
};

struct PageItem {
  std::string title;
  std::string mediaUrl;              // the original file
  std::vector<PageOffer> offers;     // what the plug-in offers the browser for this item
  std::string playerUrl;             // the transport-stream offer's, empty when there is none
  int64_t durationSeconds = 0;       // of that offer, 0 when unknown
};

struct PageModel {
  std::string serverName;
  std::vector<PageLink> path;        // the root first, the folder shown last
  std::vector<PageLink> folders;
  std::vector<PageItem> items;
  std::string playerScriptUrl;
};

// Text made safe for HTML element content and for quoted attribute values.
std::string HtmlEscape(std::string_view text);

// The whole page: the folder view and the player with its small inline script.
std::string BuildPageHtml(const PageModel& page);

// Whole seconds of a "H:MM:SS.F" duration; 0 when it is not one.
int64_t DurationSeconds(const std::string& duration);
