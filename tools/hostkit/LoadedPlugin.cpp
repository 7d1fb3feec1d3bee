#include "tools/hostkit/LoadedPlugin.h"

#include <cstring>

LoadedPlugin::~LoadedPlugin() {
  if (m_transcoder) m_transcoder->Release();
}

bool LoadedPlugin::Load(const std::string& path, std::string* error) {
  std::string reason;
  if (!m_library.Load(path.c_str(), &reason)) {
    *error = "cannot load the plug-in: " + reason;
    return false;
  }
  auto load = reinterpret_cast<LoadTranscoderFn>(m_library.Symbol("LoadTranscoder"));
  m_transcoder = load ? load() : nullptr;
  if (!m_transcoder || m_transcoder->GetUpnpTranscoder(&m_upnp) != 0 || !m_upnp) {
    *error = path + " has no usable LoadTranscoder";
    return false;
  }
  return true;
}

int32_t GetPluginOffers(NS::IUpnpTranscoder* upnp, NS::IClientRequest& request,
                        NS::IMediaItem& item, std::vector<PluginOffer>* offers) {
  NS::ResourceOffer* list = nullptr;
  uint32_t count = 0;
  int32_t result = upnp->OfferResources(&request, &item, &list, &count);
  if (result != NS::kTranscoderOk) return result;
  for (uint32_t i = 0; i < count; ++i) {
    PluginOffer offer;
    offer.index = list[i].index;
    for (uint32_t a = 0; a < list[i].count; ++a) {
      const NS::ResourceAttribute& attribute = list[i].attributes[a];
      if (std::strcmp(attribute.name, "res@protocolInfo") == 0) offer.protocolInfo = attribute.value;
      if (std::strcmp(attribute.name, "res@duration") == 0) offer.duration = attribute.value;
    }
    offers->push_back(offer);
  }
  upnp->FreeResourceList(list, count);
  return NS::kTranscoderOk;
}
