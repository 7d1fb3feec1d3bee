// DIDL-Lite, the description of folders (containers) and videos (items) that Browse answers
// with. Every title, id and URL is escaped, so a file named "<script>" shows as that text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostkit/LoadedPlugin.h"
#include "tools/vexa-serve/MediaLibrary.h"

inline constexpr char kOriginalProtocolInfo[] = "http-get:*:video/x-matroska:*";
inline constexpr char kSubtitleProtocolInfo[] = "http-get:*:text/srt:*";
inline constexpr char kContainerClass[] = "object.container.storageFolder";
inline constexpr char kVideoItemClass[] = "object.item.videoItem";

// One way of fetching an item: a res element.
struct DidlResource {
  std::string protocolInfo;
  std::string url;
  int64_t size = -1;     // written only when known
  std::string duration;  // written only when given
};

struct DidlObject {
  std::string id;
  std::string parentId;
  std::string title;
  bool container = false;
  size_t childCount = 0;                 // containers
  std::vector<DidlResource> resources;   // items
  std::string captionUrl;                // items with a subtitle: sec:CaptionInfoEx
};

// A container as Browse describes it.
DidlObject DescribeContainer(const MediaEntry& folder, size_t childCount);

// An item: its own file first (byte ranges allowed), then one resource per offer of the
// plug-in, protocolInfo and duration exactly as offered, then its subtitle, if any. baseUrl is
// "http://address:port".
DidlObject DescribeItem(const MediaEntry& item, const std::string& baseUrl,
                        const std::vector<PluginOffer>& offers);

// The DIDL-Lite document holding these objects, in order.
std::string WriteDidlLite(const std::vector<DidlObject>& objects);
