// The device description a control point downloads after discovery: a DLNA MediaServer:1 with
// ContentDirectory:1 and ConnectionManager:1, named by --name and identified by the stored UUID.
#pragma once

#include <string>

#include "tools/vexa-serve/ServerContext.h"

inline constexpr char kMediaServerType[] = "urn:schemas-upnp-org:device:MediaServer:1";

std::string DeviceDescription(const ServerContext& context);
