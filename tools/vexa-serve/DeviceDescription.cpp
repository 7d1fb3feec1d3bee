#include "tools/vexa-serve/DeviceDescription.h"

#include "tools/vexa-serve/ConnectionManager.h"
#include "tools/vexa-serve/ContentDirectory.h"
#include "tools/vexa-serve/XmlText.h"

namespace {

std::string ServiceEntry(const char* type, const char* id, const char* scpd, const char* control,
                         const char* events) {
  return std::string("<service><serviceType>") + type + "</serviceType><serviceId>" + id +
         "</serviceId><SCPDURL>" + scpd + "</SCPDURL><controlURL>" + control +
         "</controlURL><eventSubURL>" + events + "</eventSubURL></service>";
}

}  // namespace

// Every URL in it is relative: control points resolve them against the description's own URL,
// which is the address SSDP announced.
std::string DeviceDescription(const ServerContext& context) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<root xmlns=\"urn:schemas-upnp-org:device-1-0\" xmlns:dlna=\"urn:schemas-dlna-org:device-1-0\">"
      "<specVersion><major>1</major><minor>0</minor></specVersion><device>";
  xml += std::string("<deviceType>") + kMediaServerType + "</deviceType>";
  xml += "<friendlyName>" + XmlEscape(context.options.name) + "</friendlyName>";
  xml += "<manufacturer>Vexa</manufacturer><modelDescription>Vexa media server</modelDescription>"
         "<modelName>vexa-serve</modelName><modelNumber>1</modelNumber>";
  xml += "<UDN>" + XmlEscape(context.deviceUuid) + "</UDN>";
  xml += "<dlna:X_DLNADOC>DMS-1.50</dlna:X_DLNADOC>";
  xml += std::string("<presentationURL>") + ServeUrls::kPage + "</presentationURL><serviceList>";
  xml += ServiceEntry(kContentDirectoryType, "urn:upnp-org:serviceId:ContentDirectory",
                      ServeUrls::kContentDirectoryScpd, ServeUrls::kContentDirectoryControl,
                      ServeUrls::kContentDirectoryEvents);
  xml += ServiceEntry(kConnectionManagerType, "urn:upnp-org:serviceId:ConnectionManager",
                      ServeUrls::kConnectionManagerScpd, ServeUrls::kConnectionManagerControl,
                      ServeUrls::kConnectionManagerEvents);
  xml += "</serviceList></device></root>\n";
  return xml;
}
