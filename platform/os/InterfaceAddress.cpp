#include "platform/os/InterfaceAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace VexaOS {

namespace {

using AddressList = std::unique_ptr<ifaddrs, decltype(&freeifaddrs)>;
// Called with each interface entry holding an IPv4 address and that address as text; returns
// false to stop the walk.
using Ipv4Visitor = std::function<bool(const ifaddrs&, const std::string&)>;

bool Ipv4Text(const sockaddr_in& ipv4, std::string* address) {
  char text[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, &ipv4.sin_addr, text, sizeof text)) return false;
  *address = text;
  return true;
}

bool VisitIpv4(const Ipv4Visitor& visit) {
  ifaddrs* first = nullptr;
  if (getifaddrs(&first) != 0) return false;
  AddressList list(first, &freeifaddrs);
  std::string address;
  for (const ifaddrs* entry = first; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    if (Ipv4Text(*reinterpret_cast<const sockaddr_in*>(entry->ifa_addr), &address) &&
        !visit(*entry, address))
      break;
  }
  return true;
}

bool FindIpv4(const std::function<bool(const ifaddrs&)>& wanted, std::string* address) {
  bool found = false;
  VisitIpv4([&](const ifaddrs& entry, const std::string& text) {
    found = wanted(entry);
    if (found) *address = text;
    return !found;
  });
  return found;
}

}  // namespace

bool InterfaceIpv4Address(const std::string& name, std::string* address) {
  return FindIpv4([&](const ifaddrs& entry) { return name == entry.ifa_name; }, address);
}

bool FirstExternalIpv4Address(std::string* address) {
  return FindIpv4(
      [](const ifaddrs& entry) {
        return (entry.ifa_flags & IFF_UP) != 0 && (entry.ifa_flags & IFF_LOOPBACK) == 0;
      },
      address);
}

bool UpInterfaceIpv4Addresses(std::vector<std::string>* addresses) {
  std::vector<std::string> named;  // the interfaces already listed
  addresses->clear();
  return VisitIpv4([&](const ifaddrs& entry, const std::string& text) {
    if ((entry.ifa_flags & IFF_UP) != 0 &&
        std::find(named.begin(), named.end(), entry.ifa_name) == named.end()) {
      named.push_back(entry.ifa_name);
      addresses->push_back(text);
    }
    return true;
  });
}

bool SocketLocalIpv4Address(int socketFd, std::string* address, uint16_t* port) {
  sockaddr_in local{};
  socklen_t size = sizeof local;
  if (getsockname(socketFd, reinterpret_cast<sockaddr*>(&local), &size) != 0 ||
      local.sin_family != AF_INET || !Ipv4Text(local, address))
    return false;
  *port = ntohs(local.sin_port);
  return true;
}

}  // namespace VexaOS
