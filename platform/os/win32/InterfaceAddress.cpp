#include "platform/os/InterfaceAddress.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "platform/os/win32/WindowsText.h"

namespace VexaOS {

namespace {

// The size Microsoft advises to start with; the call says when it needs more.
constexpr ULONG kFirstListBytes = 15 * 1024;
constexpr int kListAttempts = 3;

// Called with each adapter and its first IPv4 address as text; returns false to stop the walk.
using Ipv4Visitor = std::function<bool(const IP_ADAPTER_ADDRESSES&, const std::string&)>;

bool Ipv4Text(const sockaddr_in& ipv4, std::string* address) {
  char text[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, &ipv4.sin_addr, text, sizeof text)) return false;
  *address = text;
  return true;
}

bool VisitIpv4(const Ipv4Visitor& visit) {
  constexpr ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG bytes = kFirstListBytes;
  std::unique_ptr<uint8_t[]> list;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < kListAttempts && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    list = std::make_unique<uint8_t[]>(bytes);
    result = ::GetAdaptersAddresses(AF_INET, flags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(list.get()), &bytes);
  }
  if (result == ERROR_NO_DATA) return true;
  if (result != NO_ERROR) return false;
  std::string address;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(list.get()); adapter; adapter = adapter->Next) {
    for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
      const sockaddr* socketAddress = unicast->Address.lpSockaddr;
      if (!socketAddress || socketAddress->sa_family != AF_INET) continue;
      if (!Ipv4Text(*reinterpret_cast<const sockaddr_in*>(socketAddress), &address)) continue;
      if (!visit(*adapter, address)) return true;
      break;  // the first IPv4 address of each adapter
    }
  }
  return true;
}

bool IsUp(const IP_ADAPTER_ADDRESSES& adapter) { return adapter.OperStatus == IfOperStatusUp; }

bool Named(const IP_ADAPTER_ADDRESSES& adapter, const std::string& name) {
  std::string friendly;
  return (adapter.AdapterName && name == adapter.AdapterName) ||
         (WideToUtf8(adapter.FriendlyName, friendly) && name == friendly);
}

bool FindIpv4(const std::function<bool(const IP_ADAPTER_ADDRESSES&)>& wanted, std::string* address) {
  bool found = false;
  VisitIpv4([&](const IP_ADAPTER_ADDRESSES& adapter, const std::string& text) {
    found = wanted(adapter);
    if (found) *address = text;
    return !found;
  });
  return found;
}

}  // namespace

bool InterfaceIpv4Address(const std::string& name, std::string* address) {
  return FindIpv4([&](const IP_ADAPTER_ADDRESSES& adapter) { return Named(adapter, name); }, address);
}

bool FirstExternalIpv4Address(std::string* address) {
  return FindIpv4(
      [](const IP_ADAPTER_ADDRESSES& adapter) {
        return IsUp(adapter) && adapter.IfType != IF_TYPE_SOFTWARE_LOOPBACK;
      },
      address);
}

bool UpInterfaceIpv4Addresses(std::vector<std::string>* addresses) {
  addresses->clear();
  return VisitIpv4([&](const IP_ADAPTER_ADDRESSES& adapter, const std::string& text) {
    if (IsUp(adapter)) addresses->push_back(text);
    return true;
  });
}

bool SocketLocalIpv4Address(int socketFd, std::string* address, uint16_t* port) {
  sockaddr_in local{};
  int size = sizeof local;
  if (getsockname(static_cast<SOCKET>(socketFd), reinterpret_cast<sockaddr*>(&local), &size) != 0 ||
      local.sin_family != AF_INET || !Ipv4Text(local, address))
    return false;
  *port = ntohs(local.sin_port);
  return true;
}

}  // namespace VexaOS
