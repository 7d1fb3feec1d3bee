#include "tools/vexa-serve/WebPage.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "tools/vexa-serve/PageHtml.h"

namespace {

// mpegts.js as scripts/setup installed it from the committed lock, in the source tree this
// server was built from.
constexpr char kPlayerScriptFile[] = VEXA_SERVE_PLAYER_SCRIPT;

// The plug-in serves known devices only, and a browser is none of them. For the player the page
// asks as a PlayStation 3 would, from the browser's address: that client is offered the
// transport stream alone, the form mpegts.js plays. The plug-in then remembers the address as a
// PlayStation 3 (its profile cache is keyed by client), so the stream requests of the player,
// which carry the browser's own User-Agent, are served that offer too.
constexpr char kPlayerProtocolMime[] = ":video/MP2T:";

// Scripts, media and requests come from this server only; the page's own script is inline.
constexpr char kPagePolicy[] =
    "default-src 'self'; script-src 'self' 'unsafe-inline'; style-src 'unsafe-inline'; "
    "media-src 'self' blob:";

std::string FolderUrl(const std::string& id) {
  return id == kRootId ? ServeUrls::kPage : std::string("/?id=") + ServeUrls::PercentEncodePath(id);
}

// The links from the root down to folder; the root goes by the server's name.
std::vector<PageLink> PathTo(const ServerContext& context, const MediaEntry& folder) {
  std::vector<PageLink> path;
  MediaEntry step = folder;
  while (step.id != kRootId) {
    path.insert(path.begin(), {step.title, FolderUrl(step.id)});
    if (context.library.Find(step.parentId, &step) != LookupResult::kFound) break;
  }
  path.insert(path.begin(), {context.options.name, ServeUrls::kPage});
  return path;
}

PageItem DescribeItem(ServerContext& context, const MediaEntry& entry,
                      const HttpExchange& exchange) {
  PageItem item;
  item.title = entry.title;
  item.mediaUrl = ServeUrls::Media(entry.id);
  std::vector<PluginOffer> offers;
  if (OffersForClient(context, entry, exchange.Header("User-Agent"), exchange.clientAddress,
                      &offers) != NS::kTranscoderOk &&
      OffersForClient(context, entry, kPs3UserAgent, exchange.clientAddress, &offers) !=
          NS::kTranscoderOk)
    offers.clear();
  for (const PluginOffer& offer : offers) {
    std::string url = ServeUrls::Stream(offer.index, entry.id);
    item.offers.push_back({offer.protocolInfo, offer.duration, url});
    bool transportStream = offer.protocolInfo.find(kPlayerProtocolMime) != std::string::npos;
    if (item.playerUrl.empty() && transportStream) {
      item.playerUrl = url;
      item.durationSeconds = DurationSeconds(offer.duration);
    }
  }
  return item;
}

MHD_Result RespondPage(ServerContext& context, const HttpExchange& exchange) {
  if (exchange.path != ServeUrls::kPage)
    return exchange.RespondText(MHD_HTTP_NOT_FOUND, "not found\n");
  std::string id = exchange.Argument("id");
  if (id.empty()) id = kRootId;
  MediaEntry folder;
  std::vector<MediaEntry> children;
  if (context.library.Find(id, &folder) != LookupResult::kFound || !folder.container ||
      context.library.List(id, &children) != LookupResult::kFound)
    return exchange.RespondText(MHD_HTTP_NOT_FOUND, "not found\n");
  PageModel page;
  page.serverName = context.options.name;
  page.path = PathTo(context, folder);
  page.playerScriptUrl = ServeUrls::kPlayerScript;
  for (const MediaEntry& child : children) {
    if (child.container)
      page.folders.push_back({child.title, FolderUrl(child.id)});
    else
      page.items.push_back(DescribeItem(context, child, exchange));
  }
  std::string html = BuildPageHtml(page);
  MHD_Response* response = MHD_create_response_from_buffer(html.size(), html.data(),
                                                           MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/html; charset=utf-8");
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_SECURITY_POLICY, kPagePolicy);
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
  return exchange.Respond(MHD_HTTP_OK, response);
}

bool ReadWholeFile(const char* path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  text->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

MHD_Result RespondPlayerScript(const HttpExchange& exchange) {
  if (exchange.path != ServeUrls::kPlayerScript)
    return exchange.RespondText(MHD_HTTP_NOT_FOUND, "not found\n");
  std::string script;
  if (!ReadWholeFile(kPlayerScriptFile, &script))
    return exchange.RespondText(MHD_HTTP_NOT_FOUND,
                                "mpegts.js is not installed here: scripts/setup installs it\n");
  return exchange.RespondText(MHD_HTTP_OK, script, "application/javascript");
}

}  // namespace

void RegisterPageRoutes(HttpFront& front, ServerContext& context) {
  if (!std::ifstream(kPlayerScriptFile).good())
    std::fprintf(stderr, "vexa-serve: %s is missing, the page's player will not start\n",
                 kPlayerScriptFile);
  front.Route("GET", ServeUrls::kPage,
              [&context](const HttpExchange& exchange) { return RespondPage(context, exchange); });
  front.Route("GET", ServeUrls::kPlayerScript, RespondPlayerScript);
}
