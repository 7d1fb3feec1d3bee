#include "tools/vexa-serve/EventSubscriptions.h"

namespace {

constexpr char kSubscriptionTimeout[] = "Second-1800";
constexpr char kEventNotificationType[] = "upnp:event";

MHD_Result RespondEmpty(const HttpExchange& exchange, unsigned status) {
  MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
  return exchange.Respond(status, response);
}

}  // namespace

MHD_Result EventSubscriptions::Subscribe(const HttpExchange& exchange) {
  std::string sid = exchange.Header("SID");
  bool renewal = !sid.empty();
  bool fresh = !exchange.Header("CALLBACK").empty() &&
               exchange.Header("NT") == kEventNotificationType;
  if (renewal && (!exchange.Header("CALLBACK").empty() || !exchange.Header("NT").empty()))
    return RespondEmpty(exchange, MHD_HTTP_BAD_REQUEST);
  if (!renewal && !fresh) return RespondEmpty(exchange, MHD_HTTP_PRECONDITION_FAILED);
  if (!renewal) sid = m_sidPrefix + "-event-" + std::to_string(++m_issued);
  MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
  MHD_add_response_header(response, "SID", sid.c_str());
  MHD_add_response_header(response, "TIMEOUT", kSubscriptionTimeout);
  return exchange.Respond(MHD_HTTP_OK, response);
}

MHD_Result EventSubscriptions::Unsubscribe(const HttpExchange& exchange) const {
  if (exchange.Header("SID").empty()) return RespondEmpty(exchange, MHD_HTTP_PRECONDITION_FAILED);
  return RespondEmpty(exchange, MHD_HTTP_OK);
}
