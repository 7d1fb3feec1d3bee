#include "tools/vexa-serve/DidlLite.h"

#include "tools/vexa-serve/ServerContext.h"
#include "tools/vexa-serve/XmlText.h"

namespace {

constexpr char kDidlOpen[] =
    "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\""
    " xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
    " xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\""
    " xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\""
    " xmlns:sec=\"http://www.sec.co.kr/\">";
constexpr char kDidlClose[] = "</DIDL-Lite>";

void AppendAttribute(std::string* xml, const char* name, const std::string& value) {
  *xml += ' ';
  *xml += name;
  *xml += "=\"";
  *xml += XmlEscape(value);
  *xml += '"';
}

void AppendElement(std::string* xml, const char* name, const std::string& text) {
  *xml += '<';
  *xml += name;
  *xml += '>';
  *xml += XmlEscape(text);
  *xml += "</";
  *xml += name;
  *xml += '>';
}

void AppendResource(std::string* xml, const DidlResource& resource) {
  *xml += "<res";
  AppendAttribute(xml, "protocolInfo", resource.protocolInfo);
  if (resource.size >= 0) AppendAttribute(xml, "size", std::to_string(resource.size));
  if (!resource.duration.empty()) AppendAttribute(xml, "duration", resource.duration);
  *xml += '>';
  *xml += XmlEscape(resource.url);
  *xml += "</res>";
}

void AppendObject(std::string* xml, const DidlObject& object) {
  const char* element = object.container ? "container" : "item";
  *xml += '<';
  *xml += element;
  AppendAttribute(xml, "id", object.id);
  AppendAttribute(xml, "parentID", object.parentId);
  AppendAttribute(xml, "restricted", "1");
  if (object.container) {
    AppendAttribute(xml, "childCount", std::to_string(object.childCount));
    AppendAttribute(xml, "searchable", "0");
  }
  *xml += '>';
  AppendElement(xml, "dc:title", object.title);
  AppendElement(xml, "upnp:class", object.container ? kContainerClass : kVideoItemClass);
  for (const DidlResource& resource : object.resources) AppendResource(xml, resource);
  if (!object.captionUrl.empty()) {
    *xml += "<sec:CaptionInfoEx sec:type=\"srt\">";
    *xml += XmlEscape(object.captionUrl);
    *xml += "</sec:CaptionInfoEx>";
  }
  *xml += "</";
  *xml += element;
  *xml += '>';
}

}  // namespace

DidlObject DescribeContainer(const MediaEntry& folder, size_t childCount) {
  DidlObject object;
  object.id = folder.id;
  object.parentId = folder.parentId;
  object.title = folder.title;
  object.container = true;
  object.childCount = childCount;
  return object;
}

DidlObject DescribeItem(const MediaEntry& item, const std::string& baseUrl,
                        const std::vector<PluginOffer>& offers) {
  DidlObject object;
  object.id = item.id;
  object.parentId = item.parentId;
  object.title = item.title;
  object.resources.push_back(
      {kOriginalProtocolInfo, baseUrl + ServeUrls::Media(item.id), item.size, ""});
  for (const PluginOffer& offer : offers)
    object.resources.push_back(
        {offer.protocolInfo, baseUrl + ServeUrls::Stream(offer.index, item.id), -1,
         offer.duration});
  if (!item.subtitleId.empty()) {
    object.captionUrl = baseUrl + ServeUrls::Media(item.subtitleId);
    object.resources.push_back({kSubtitleProtocolInfo, object.captionUrl, -1, ""});
  }
  return object;
}

std::string WriteDidlLite(const std::vector<DidlObject>& objects) {
  std::string xml = kDidlOpen;
  for (const DidlObject& object : objects) AppendObject(&xml, object);
  xml += kDidlClose;
  return xml;
}
