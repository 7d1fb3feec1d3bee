#include "tools/vexa-serve/HttpFront.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>

#include "platform/os/InterfaceAddress.h"

namespace {

constexpr char kRetryAfterSeconds[] = "5";

std::string ClientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (!info || !info->client_addr) return "";
  char text[INET6_ADDRSTRLEN] = {};
  const sockaddr* address = info->client_addr;
  if (address->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  else if (address->sa_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
              sizeof text);
  return text;
}

// The address and port of the connection's own end, as the client reached them.
void FindLocalEnd(HttpExchange* exchange) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(exchange->connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  if (info)
    VexaOS::SocketLocalIpv4Address(info->connect_fd, &exchange->localAddress, &exchange->localPort);
}

bool ResolveListenAddress(const std::string& address, uint16_t port, sockaddr_in* out) {
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  out->sin_port = htons(port);
  if (address.empty()) {
    out->sin_addr.s_addr = htonl(INADDR_ANY);
    return true;
  }
  return inet_pton(AF_INET, address.c_str(), &out->sin_addr) == 1;
}

}  // namespace

// A request's state between libmicrohttpd's calls: its body as it arrives.
struct HttpFront::PendingRequest {
  std::string body;
  bool bodyTooLarge = false;
};

std::string HttpExchange::BaseUrl() const {
  return "http://" + localAddress + ":" + std::to_string(localPort);
}

std::string HttpExchange::Header(const char* name) const {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value ? value : "";
}

std::string HttpExchange::Argument(const char* name) const {
  const char* value = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, name);
  return value ? value : "";
}

MHD_Result HttpExchange::Respond(unsigned status, MHD_Response* response) const {
  if (!response) return MHD_NO;
  std::fprintf(stderr, "%s %s %s %u\n", clientAddress.c_str(), method.c_str(), path.c_str(),
               status);
  MHD_Result queued = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result HttpExchange::RespondText(unsigned status, const std::string& text,
                                     const char* contentType) const {
  MHD_Response* response = MHD_create_response_from_buffer(
      text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
  return Respond(status, response);
}

void HttpFront::Route(const std::string& method, const std::string& prefix, Handler handler) {
  m_routes.push_back({method, prefix, std::move(handler)});
}

bool HttpFront::Start(const std::string& address, uint16_t port, const HttpLimits& limits,
                      std::string* error) {
  sockaddr_in listen{};
  if (!ResolveListenAddress(address, port, &listen)) {
    *error = "not an IPv4 address: " + address;
    return false;
  }
  m_limits = limits;
  m_daemon = MHD_start_daemon(
      MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL |
          MHD_USE_ERROR_LOG,
      port, nullptr, nullptr, &HttpFront::OnRequest, this,
      MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&listen),
      MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(limits.connectionLimit),
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(limits.idleTimeoutSeconds),
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.memoryPerConnection,
      MHD_OPTION_NOTIFY_COMPLETED, &HttpFront::OnCompleted, this,
      MHD_OPTION_NOTIFY_CONNECTION, &HttpFront::OnConnection, this,
      MHD_OPTION_END);
  if (!m_daemon) {
    *error = "cannot listen on port " + std::to_string(port);
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
  m_port = info ? info->port : port;
  return true;
}

void HttpFront::Stop() {
  if (!m_daemon) return;
  MHD_stop_daemon(m_daemon);
  m_daemon = nullptr;
}

void HttpFront::OnConnection(void* self, MHD_Connection*, void**,
                             MHD_ConnectionNotificationCode code) {
  auto* front = static_cast<HttpFront*>(self);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) ++front->m_open;
  if (code == MHD_CONNECTION_NOTIFY_CLOSED) --front->m_open;
}

void HttpFront::OnCompleted(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
  delete static_cast<PendingRequest*>(*state);
  *state = nullptr;
}

MHD_Result HttpFront::OnRequest(void* self, MHD_Connection* connection, const char* url,
                                const char* method, const char*, const char* upload,
                                size_t* uploadSize, void** state) {
  auto* front = static_cast<HttpFront*>(self);
  auto* pending = static_cast<PendingRequest*>(*state);
  if (!pending) {  // the headers are in: wait for the body, if any
    *state = new PendingRequest;
    return MHD_YES;
  }
  if (*uploadSize > 0) {
    if (pending->body.size() + *uploadSize > front->m_limits.maxBody)
      pending->bodyTooLarge = true;
    else
      pending->body.append(upload, *uploadSize);
    *uploadSize = 0;
    return MHD_YES;
  }
  HttpExchange exchange;
  exchange.connection = connection;
  exchange.method = method;
  exchange.path = url;
  exchange.body = std::move(pending->body);
  exchange.clientAddress = ClientAddress(connection);
  FindLocalEnd(&exchange);
  if (pending->bodyTooLarge) return exchange.RespondText(MHD_HTTP_CONTENT_TOO_LARGE, "too large\n");
  if (front->m_open.load() > front->m_limits.busyAbove) {
    MHD_Response* busy = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(busy, MHD_HTTP_HEADER_RETRY_AFTER, kRetryAfterSeconds);
    return exchange.Respond(MHD_HTTP_SERVICE_UNAVAILABLE, busy);
  }
  return front->Dispatch(exchange);
}

MHD_Result HttpFront::Dispatch(HttpExchange& exchange) const {
  const Route_* best = nullptr;
  std::string method = exchange.IsHead() ? "GET" : exchange.method;
  for (const Route_& route : m_routes) {
    if (route.method != method || exchange.path.compare(0, route.prefix.size(), route.prefix) != 0)
      continue;
    if (!best || route.prefix.size() > best->prefix.size()) best = &route;
  }
  if (!best) return exchange.RespondText(MHD_HTTP_NOT_FOUND, "not found\n");
  return best->handler(exchange);
}
