// The server's one HTTP listener (libmicrohttpd, a thread per connection): device and service
// descriptions, control, the page, originals and streams all come through here. It routes each
// request by method and path prefix, collects a request body up to a bound, keeps connections
// within limits, and logs one line per answered request to standard error.
#pragma once

#include <microhttpd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct HttpLimits {
  unsigned connectionLimit = 64;       // the listener accepts no more (descriptors stay bounded)
  unsigned busyAbove = 48;             // past this many open connections a request gets 503
  unsigned idleTimeoutSeconds = 30;    // a connection that neither sends nor takes data closes
  size_t memoryPerConnection = 32768;  // bounds the request line and headers
  size_t maxBody = 65536;              // a control request's body
};

// One request as a handler sees it. path is the URL's path, already percent-decoded.
class HttpExchange {
 public:
  MHD_Connection* connection = nullptr;
  std::string method;  // "HEAD" reaches the handler routed for "GET"
  std::string path;
  std::string body;
  std::string clientAddress;
  // Where the client reached the server (the connection's own end): URLs handed to this client
  // name it, so that they lead back through the interface the client can reach.
  std::string localAddress;
  uint16_t localPort = 0;

  // "http://localAddress:localPort"
  std::string BaseUrl() const;

  bool IsHead() const { return method == "HEAD"; }
  // A request header's value, or empty.
  std::string Header(const char* name) const;
  // A query argument's value, or empty.
  std::string Argument(const char* name) const;

  // Queues the response with this status, logs the request's line, and drops the caller's
  // reference to the response.
  MHD_Result Respond(unsigned status, MHD_Response* response) const;
  MHD_Result RespondText(unsigned status, const std::string& text,
                         const char* contentType = "text/plain; charset=utf-8") const;
};

class HttpFront {
 public:
  using Handler = std::function<MHD_Result(const HttpExchange&)>;

  HttpFront() = default;
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;
  ~HttpFront() { Stop(); }

  // Requests with this method whose path starts with prefix go to handler; the longest prefix
  // wins. A "GET" route also answers HEAD.
  void Route(const std::string& method, const std::string& prefix, Handler handler);

  // Listens on address:port (address "" for every interface). False, with the reason, when
  // the port cannot be opened.
  bool Start(const std::string& address, uint16_t port, const HttpLimits& limits,
             std::string* error);
  // Closes the listener and every connection, waiting for their threads.
  void Stop();

  uint16_t Port() const { return m_port; }
  unsigned OpenConnections() const { return m_open.load(); }

 private:
  struct Route_ {
    std::string method;
    std::string prefix;
    Handler handler;
  };
  struct PendingRequest;

  static MHD_Result OnRequest(void* self, MHD_Connection* connection, const char* url,
                              const char* method, const char* version, const char* upload,
                              size_t* uploadSize, void** state);
  static void OnCompleted(void* self, MHD_Connection*, void** state,
                          MHD_RequestTerminationCode);
  static void OnConnection(void* self, MHD_Connection*, void** socketState,
                           MHD_ConnectionNotificationCode code);
  MHD_Result Dispatch(HttpExchange& exchange) const;

  std::vector<Route_> m_routes;
  HttpLimits m_limits;
  MHD_Daemon* m_daemon = nullptr;
  uint16_t m_port = 0;
  std::atomic<unsigned> m_open{0};
};
