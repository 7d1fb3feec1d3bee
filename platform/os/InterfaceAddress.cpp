#include "platform/os/InterfaceAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <functional>
#include <memory>

namespace VexaOS {

namespace {

using AddressList = std::unique_ptr<ifaddrs, decltype(&freeifaddrs)>;

bool FindIpv4(const std::function<bool(const ifaddrs&)>& wanted, std::string* address) {
  ifaddrs* first = nullptr;
  if (getifaddrs(&first) != 0) return false;
  AddressList list(first, &freeifaddrs);
  for (const ifaddrs* entry = first; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !wanted(*entry)) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if (!inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text)) continue;
    *address = text;
    return true;
  }
  return false;
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

}  // namespace VexaOS
