// The IPv4 addresses of the machine's network interfaces, for a server that must say where it
// can be reached.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace VexaOS {

// The first IPv4 address of the interface called name ("lo", "eth0"; on Windows the adapter's
// friendly name, "Ethernet", or its GUID name); false when it has none.
bool InterfaceIpv4Address(const std::string& name, std::string* address);

// The first IPv4 address of an interface that is up and not the loopback; false when none.
bool FirstExternalIpv4Address(std::string* address);

// The first IPv4 address of each interface that is up, the loopback included, in the system's
// order; false when the interfaces cannot be read.
bool UpInterfaceIpv4Addresses(std::vector<std::string>* addresses);

// The local IPv4 address and port of a connected socket: the address its peer reached, which
// names the interface the connection came in on. False when it is not an IPv4 socket. On
// Windows socketFd is the SOCKET.
bool SocketLocalIpv4Address(int socketFd, std::string* address, uint16_t* port);

}  // namespace VexaOS
