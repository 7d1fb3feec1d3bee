// A UDP socket in a multicast group, for SSDP: it hears the group's datagrams on every address
// of the port, and sends its own multicast through one chosen interface only (a server told to
// use "lo" must never reach the network through the default route).
#pragma once

#include <cstdint>
#include <string>

#include "platform/os/FileDescriptor.h"

namespace VexaOS {

struct UdpPeer {
  std::string address;  // IPv4, dotted
  uint16_t port = 0;
};

class CMulticastSocket {
 public:
  // Binds port (shared with other listeners of the group), joins group on the interface that
  // holds interfaceAddress and sends multicast through it with this many hops. False, with the
  // reason, on failure.
  bool Open(const std::string& group, uint16_t port, const std::string& interfaceAddress,
            int hops, std::string* error);
  bool SendTo(const std::string& datagram, const UdpPeer& peer) const;
  // Waits up to timeoutMs for one datagram; false when none came (or the socket failed).
  bool Receive(int timeoutMs, std::string* datagram, UdpPeer* from) const;

 private:
  CFileDescriptor m_socket;
};

}  // namespace VexaOS
