// The server as a UPnP MediaServer:1 device: its device and service descriptions, control of
// ContentDirectory:1 and ConnectionManager:1 (SOAP over the server's HTTP listener, so that
// each Browse sees the asking client's User-Agent), and SSDP announcements through libupnp.
#pragma once

#include <string>

#include "tools/vexa-serve/HttpFront.h"
#include "tools/vexa-serve/ServerContext.h"

// Routes the descriptions, control and event URLs of ServeUrls to their handlers.
void RegisterUpnpRoutes(HttpFront& front, ServerContext& context);

// Announces the device on the context's address (alive on start, byebye on stop) and answers
// M-SEARCH, until stopped.
class SsdpAnnouncer {
 public:
  SsdpAnnouncer() = default;
  SsdpAnnouncer(const SsdpAnnouncer&) = delete;
  SsdpAnnouncer& operator=(const SsdpAnnouncer&) = delete;
  ~SsdpAnnouncer() { Stop(); }

  bool Start(const ServerContext& context, std::string* error);
  void Stop();

 private:
  bool m_started = false;
  int m_device = -1;
};
