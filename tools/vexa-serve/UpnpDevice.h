// The server as a UPnP MediaServer:1 device: its device and service descriptions, control of
// ContentDirectory:1 and ConnectionManager:1 (SOAP over the server's HTTP listener, so that
// each Browse sees the asking client's User-Agent), and its SSDP announcements and answers.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "platform/os/MulticastSocket.h"
#include "tools/vexa-serve/HttpFront.h"
#include "tools/vexa-serve/ServerContext.h"
#include "tools/vexa-serve/SsdpMessages.h"

// Routes the descriptions, control and event URLs of ServeUrls to their handlers.
void RegisterUpnpRoutes(HttpFront& front, ServerContext& context);

// Announces the device on one of the server's addresses (alive on start and again before the
// announcement expires, byebye on stop) and answers the M-SEARCHes that come in on its
// interface, until stopped. Multicast leaves only through the interface of that address, and
// the LOCATION it gives names that address. Each set of notifications goes out twice, a moment
// apart: a datagram a busy control point's socket had no room for is not missed for good.
// The server's own SSDP rather than libupnp's: libupnp 1.8.4, started on 127.0.0.1, still sent
// its announcements through the default route, and multicast must leave only where asked.
class SsdpAnnouncer {
 public:
  SsdpAnnouncer() = default;
  SsdpAnnouncer(const SsdpAnnouncer&) = delete;
  SsdpAnnouncer& operator=(const SsdpAnnouncer&) = delete;
  ~SsdpAnnouncer() { Stop(); }

  bool Start(const ServerContext& context, const std::string& address, std::string* error);
  void Stop();

 private:
  void AnswerSearches();
  void Announce(bool alive) const;

  VexaOS::CMulticastSocket m_socket;
  SsdpDevice m_device;
  std::thread m_thread;
  std::atomic<bool> m_stopping{false};
};
