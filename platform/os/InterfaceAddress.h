// The IPv4 addresses of the machine's network interfaces, for a server that must say where it
// can be reached.
#pragma once

#include <string>

namespace VexaOS {

// The first IPv4 address of the interface called name ("lo", "eth0"); false when it has none.
bool InterfaceIpv4Address(const std::string& name, std::string* address);

// The first IPv4 address of an interface that is up and not the loopback; false when none.
bool FirstExternalIpv4Address(std::string* address);

}  // namespace VexaOS
