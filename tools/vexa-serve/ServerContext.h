// What every part of the server shares: its options, the served folder, the loaded plug-in,
// its identity and where it can be reached, and the layout of its URLs.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/hostkit/LoadedPlugin.h"
#include "tools/vexa-serve/MediaLibrary.h"

struct ServeOptions {
  std::string root;
  uint16_t port = 8200;
  std::string name = "Vexa";
  std::string interfaceName;  // empty: HTTP and announcements on every interface
  std::string plugin;         // the plug-in library to load
};

// False, with the reason, on an unknown option, a missing value or a missing --root.
bool ParseServeOptions(int argc, char** argv, ServeOptions* options, std::string* error);

struct ServerContext {
  ServeOptions options;
  MediaLibrary library;
  LoadedPlugin plugin;
  std::string deviceUuid;  // "uuid:...", kept in the settings store across restarts
  // The IPv4 address the server names when it starts: with --interface the only one it
  // listens and announces on. URLs in answers name the address each client reached instead.
  std::string address;
  // Known only once the listener is up, while its connection threads may already read it.
  std::atomic<uint16_t> port{0};

  std::string BaseUrl() const;
};

// The URLs the server answers. An object id goes into a URL percent-encoded, '/' kept.
namespace ServeUrls {
inline constexpr char kDescription[] = "/description.xml";
inline constexpr char kContentDirectoryScpd[] = "/ContentDirectory.xml";
inline constexpr char kConnectionManagerScpd[] = "/ConnectionManager.xml";
inline constexpr char kContentDirectoryControl[] = "/control/ContentDirectory";
inline constexpr char kConnectionManagerControl[] = "/control/ConnectionManager";
inline constexpr char kContentDirectoryEvents[] = "/event/ContentDirectory";
inline constexpr char kConnectionManagerEvents[] = "/event/ConnectionManager";
inline constexpr char kMedia[] = "/media/";    // + id: the file's own bytes (Range allowed)
inline constexpr char kStream[] = "/stream/";  // + offer index + "/" + id: the plug-in's form
inline constexpr char kPage[] = "/";
inline constexpr char kPlayerScript[] = "/mpegts.js";

std::string Base(const std::string& address, uint16_t port);  // "http://address:port"
std::string PercentEncodePath(const std::string& id);
std::string Media(const std::string& id);
std::string Stream(uint32_t offerIndex, const std::string& id);
}  // namespace ServeUrls

// The plug-in's offers of one item to the client that asks (its User-Agent and address).
// Returns OfferResources' result; an item the plug-in does not serve answers 15.
int32_t OffersForClient(ServerContext& context, const MediaEntry& item,
                        const std::string& userAgent, const std::string& clientAddress,
                        std::vector<PluginOffer>* offers);

// The device UUID stored in the settings store, made and stored on the first run.
bool LoadDeviceUuid(std::string* uuid, std::string* error);
