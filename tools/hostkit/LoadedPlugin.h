// The plug-in as a host loads it: the library opened by path, its transcoder object made by
// LoadTranscoder, and the offers it makes for one client and item.
#pragma once

#include <string>
#include <vector>

#include "platform/os/ScopedDLL.h"
#include "tools/hostkit/HostObjects.h"

// The loaded plug-in and its transcoder object; both are let go in reverse order.
class LoadedPlugin {
 public:
  LoadedPlugin() = default;
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;
  ~LoadedPlugin();

  // False, with the reason in error, when the library cannot be loaded or has no usable
  // LoadTranscoder.
  bool Load(const std::string& path, std::string* error);
  NS::ITranscoder* Transcoder() const { return m_transcoder; }
  NS::IUpnpTranscoder* Upnp() const { return m_upnp; }

 private:
  VexaOS::ScopedDLL m_library;  // unloaded after the transcoder is released
  NS::ITranscoder* m_transcoder = nullptr;
  NS::IUpnpTranscoder* m_upnp = nullptr;
};

// One offer, with the attributes a host copies into its resource description.
struct PluginOffer {
  uint32_t index = 0;
  std::string protocolInfo;  // "res@protocolInfo"
  std::string duration;      // "res@duration", empty when the plug-in gave none
};

// The plug-in's offers for this client and item, copied out of its list (which is freed
// here). Returns OfferResources' result; offers is filled only on success.
int32_t GetPluginOffers(NS::IUpnpTranscoder* upnp, NS::IClientRequest& request,
                        NS::IMediaItem& item, std::vector<PluginOffer>* offers);
