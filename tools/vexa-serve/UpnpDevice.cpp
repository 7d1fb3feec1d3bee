#include "tools/vexa-serve/UpnpDevice.h"

#include <upnp.h>

#include <ctime>
#include <memory>

#include "tools/vexa-serve/ConnectionManager.h"
#include "tools/vexa-serve/ContentDirectory.h"
#include "tools/vexa-serve/DeviceDescription.h"
#include "tools/vexa-serve/EventSubscriptions.h"
#include "tools/vexa-serve/ServiceDescriptions.h"
#include "tools/vexa-serve/SoapControl.h"

namespace {

constexpr char kXmlContentType[] = "text/xml; charset=\"utf-8\"";
constexpr char kServerHeader[] = "Linux UPnP/1.0 DLNADOC/1.50 vexa-serve/1.0";
constexpr int kAdvertisementMaxAgeSeconds = 1800;

MHD_Result RespondXml(const HttpExchange& exchange, unsigned status, const std::string& xml) {
  MHD_Response* response = MHD_create_response_from_buffer(
      xml.size(), const_cast<char*>(xml.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, kXmlContentType);
  MHD_add_response_header(response, MHD_HTTP_HEADER_SERVER, kServerHeader);
  return exchange.Respond(status, response);
}

// Routes one fixed document; a longer path under the same prefix is not it.
void RouteDocument(HttpFront& front, const char* path, std::function<std::string()> document) {
  front.Route("GET", path, [path, document](const HttpExchange& exchange) {
    if (exchange.path != path) return exchange.RespondText(MHD_HTTP_NOT_FOUND, "not found\n");
    return RespondXml(exchange, MHD_HTTP_OK, document());
  });
}

using ServiceAnswer = std::function<SoapAnswer(const SoapAction&, const HttpExchange&)>;

// A service's control URL: the action is read from the SOAP body, answered by the service, and
// a request that names no action of this service gets 401.
void RouteControl(HttpFront& front, const char* path, const char* serviceType,
                  ServiceAnswer answerAction) {
  front.Route("POST", path, [path, serviceType, answerAction](const HttpExchange& exchange) {
    if (exchange.path != path) return exchange.RespondText(MHD_HTTP_NOT_FOUND, "not found\n");
    SoapAction action;
    SoapAnswer answer;
    if (!ParseSoapAction(exchange.body, &action) || action.serviceType != serviceType)
      answer.error = UpnpError::kInvalidAction;
    else
      answer = answerAction(action, exchange);
    unsigned status =
        answer.error == UpnpError::kNone ? MHD_HTTP_OK : MHD_HTTP_INTERNAL_SERVER_ERROR;
    return RespondXml(exchange, status, SoapAnswerBody(serviceType, action.name, answer));
  });
}

void RouteEvents(HttpFront& front, const char* path,
                 const std::shared_ptr<EventSubscriptions>& subscriptions) {
  front.Route("SUBSCRIBE", path, [path, subscriptions](const HttpExchange& exchange) {
    if (exchange.path != path) return exchange.RespondText(MHD_HTTP_NOT_FOUND, "not found\n");
    return subscriptions->Subscribe(exchange);
  });
  front.Route("UNSUBSCRIBE", path, [path, subscriptions](const HttpExchange& exchange) {
    if (exchange.path != path) return exchange.RespondText(MHD_HTTP_NOT_FOUND, "not found\n");
    return subscriptions->Unsubscribe(exchange);
  });
}

// libupnp reports searches and its own housekeeping here; SSDP needs no answer from us.
int OnUpnpEvent(Upnp_EventType, const void*, void*) { return 0; }

}  // namespace

void RegisterUpnpRoutes(HttpFront& front, ServerContext& context) {
  // Nothing tells the server of changes in the folder while it runs; a new run may see new
  // contents, so each run has its own update id (its start time).
  auto systemUpdateId = static_cast<uint32_t>(std::time(nullptr));
  auto directory = std::make_shared<ContentDirectory>(context, systemUpdateId);
  auto subscriptions = std::make_shared<EventSubscriptions>(context.deviceUuid);

  RouteDocument(front, ServeUrls::kDescription, [&context] { return DeviceDescription(context); });
  RouteDocument(front, ServeUrls::kContentDirectoryScpd, [] { return kContentDirectoryScpdText; });
  RouteDocument(front, ServeUrls::kConnectionManagerScpd,
                [] { return kConnectionManagerScpdText; });
  RouteControl(front, ServeUrls::kContentDirectoryControl, kContentDirectoryType,
               [directory](const SoapAction& action, const HttpExchange& exchange) {
                 return directory->Answer(
                     action, {exchange.Header("User-Agent"), exchange.clientAddress});
               });
  RouteControl(front, ServeUrls::kConnectionManagerControl, kConnectionManagerType,
               [](const SoapAction& action, const HttpExchange&) {
                 return AnswerConnectionManager(action);
               });
  RouteEvents(front, ServeUrls::kContentDirectoryEvents, subscriptions);
  RouteEvents(front, ServeUrls::kConnectionManagerEvents, subscriptions);
}

bool SsdpAnnouncer::Start(const ServerContext& context, std::string* error) {
  int result = UpnpInit(context.address.c_str(), 0);
  if (result != UPNP_E_SUCCESS) {
    *error = "cannot start SSDP on " + context.address + " (libupnp " + std::to_string(result) + ")";
    return false;
  }
  m_started = true;
  std::string descriptionUrl = context.BaseUrl() + ServeUrls::kDescription;
  result = UpnpRegisterRootDevice(descriptionUrl.c_str(), &OnUpnpEvent, nullptr, &m_device);
  if (result == UPNP_E_SUCCESS)
    result = UpnpSendAdvertisement(m_device, kAdvertisementMaxAgeSeconds);
  if (result != UPNP_E_SUCCESS) {
    *error = "cannot announce " + descriptionUrl + " (libupnp " + std::to_string(result) + ")";
    Stop();
    return false;
  }
  return true;
}

// Unregistering sends the byebye announcements.
void SsdpAnnouncer::Stop() {
  if (m_device >= 0) UpnpUnRegisterRootDevice(m_device);
  m_device = -1;
  if (m_started) UpnpFinish();
  m_started = false;
}
