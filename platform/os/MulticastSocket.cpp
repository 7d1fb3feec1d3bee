#include "platform/os/MulticastSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace VexaOS {

namespace {

constexpr size_t kLargestDatagram = 8192;

bool Fail(const char* what, std::string* error) {
  *error = std::string(what) + ": " + std::strerror(errno);
  return false;
}

}  // namespace

bool CMulticastSocket::Open(const std::string& group, uint16_t port,
                            const std::string& interfaceAddress, int hops, std::string* error) {
  in_addr groupAddress{}, localAddress{};
  if (inet_pton(AF_INET, group.c_str(), &groupAddress) != 1 ||
      inet_pton(AF_INET, interfaceAddress.c_str(), &localAddress) != 1) {
    *error = "not an IPv4 address: " + group + " or " + interfaceAddress;
    return false;
  }
  CFileDescriptor socketFd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socketFd.IsOpen()) return Fail("socket", error);
  int yes = 1;
  unsigned char ttl = static_cast<unsigned char>(hops), loop = 1;
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_port = htons(port);
  bound.sin_addr.s_addr = htonl(INADDR_ANY);
  ip_mreq membership{groupAddress, localAddress};
  int fd = socketFd.Get();
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0)
    return Fail("SO_REUSEADDR", error);
  if (bind(fd, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0) return Fail("bind", error);
  if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0)
    return Fail("IP_ADD_MEMBERSHIP", error);
  // Only the group joined here, on this interface: not whatever other programs joined elsewhere.
  int onlyJoined = 0;
  if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &onlyJoined, sizeof onlyJoined) != 0)
    return Fail("IP_MULTICAST_ALL", error);
  if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &localAddress, sizeof localAddress) != 0)
    return Fail("IP_MULTICAST_IF", error);
  if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0 ||
      setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0)
    return Fail("IP_MULTICAST_TTL", error);
  m_socket = std::move(socketFd);
  return true;
}

bool CMulticastSocket::SendTo(const std::string& datagram, const UdpPeer& peer) const {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(peer.port);
  if (inet_pton(AF_INET, peer.address.c_str(), &to.sin_addr) != 1) return false;
  ssize_t sent = sendto(m_socket.Get(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                        reinterpret_cast<sockaddr*>(&to), sizeof to);
  return sent == static_cast<ssize_t>(datagram.size());
}

bool CMulticastSocket::Receive(int timeoutMs, std::string* datagram, UdpPeer* from) const {
  pollfd wait{m_socket.Get(), POLLIN, 0};
  if (poll(&wait, 1, timeoutMs) <= 0) return false;
  char buffer[kLargestDatagram];
  sockaddr_in sender{};
  socklen_t senderSize = sizeof sender;
  ssize_t got = recvfrom(m_socket.Get(), buffer, sizeof buffer, MSG_DONTWAIT,
                         reinterpret_cast<sockaddr*>(&sender), &senderSize);
  if (got < 0) return false;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &sender.sin_addr, text, sizeof text);
  datagram->assign(buffer, static_cast<size_t>(got));
  from->address = text;
  from->port = ntohs(sender.sin_port);
  return true;
}

}  // namespace VexaOS
