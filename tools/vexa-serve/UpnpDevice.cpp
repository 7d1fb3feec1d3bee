#include "tools/vexa-serve/UpnpDevice.h"

#include <chrono>
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
constexpr int kAdvertisementMaxAgeSeconds = 1800;
constexpr int kSsdpHops = 2;
constexpr int kSearchWaitMs = 200;  // how soon the announcer notices that it is to stop
constexpr auto kRepeatAfter = std::chrono::milliseconds(150);  // before a set goes out again

MHD_Result RespondXml(const HttpExchange& exchange, unsigned status, const std::string& xml) {
  MHD_Response* response = MHD_create_response_from_buffer(
      xml.size(), const_cast<char*>(xml.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, kXmlContentType);
  MHD_add_response_header(response, MHD_HTTP_HEADER_SERVER, kServerProduct);
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
                 return directory->Answer(action, {exchange.Header("User-Agent"),
                                                   exchange.clientAddress, exchange.BaseUrl()});
               });
  RouteControl(front, ServeUrls::kConnectionManagerControl, kConnectionManagerType,
               [](const SoapAction& action, const HttpExchange&) {
                 return AnswerConnectionManager(action);
               });
  RouteEvents(front, ServeUrls::kContentDirectoryEvents, subscriptions);
  RouteEvents(front, ServeUrls::kConnectionManagerEvents, subscriptions);
}

bool SsdpAnnouncer::Start(const ServerContext& context, const std::string& address,
                          std::string* error) {
  if (!m_socket.Open(kSsdpGroup, kSsdpPort, address, kSsdpHops, error)) {
    *error = "cannot announce on " + address + ": " + *error;
    return false;
  }
  m_device = {context.deviceUuid, kMediaServerType, {kContentDirectoryType, kConnectionManagerType},
              ServeUrls::Base(address, context.port) + ServeUrls::kDescription,
              kAdvertisementMaxAgeSeconds};
  m_stopping = false;
  Announce(true);
  m_thread = std::thread([this] { AnswerSearches(); });
  return true;
}

void SsdpAnnouncer::Stop() {
  if (!m_thread.joinable()) return;
  m_stopping = true;
  m_thread.join();
  Announce(false);
  std::this_thread::sleep_for(kRepeatAfter);
  Announce(false);
}

void SsdpAnnouncer::Announce(bool alive) const {
  const VexaOS::UdpPeer group{kSsdpGroup, static_cast<uint16_t>(kSsdpPort)};
  for (const SsdpTarget& target : SsdpTargets(m_device))
    m_socket.SendTo(alive ? AliveNotification(m_device, target) : ByebyeNotification(target), group);
}

// Answers at once: on a loopback or home network the few answers need no spreading over MX.
void SsdpAnnouncer::AnswerSearches() {
  using Clock = std::chrono::steady_clock;
  const auto renewal = std::chrono::seconds(kAdvertisementMaxAgeSeconds / 2);
  auto nextAlive = Clock::now() + kRepeatAfter;  // the start's alive set, again
  while (!m_stopping) {
    if (Clock::now() >= nextAlive) {
      Announce(true);
      nextAlive = Clock::now() + renewal;
    }
    std::string datagram, searchTarget;
    VexaOS::UdpPeer from;
    if (!m_socket.Receive(kSearchWaitMs, &datagram, &from) || !ParseSearch(datagram, &searchTarget))
      continue;
    for (const SsdpTarget& target : TargetsFound(m_device, searchTarget))
      m_socket.SendTo(SearchAnswer(m_device, target), from);
  }
}
