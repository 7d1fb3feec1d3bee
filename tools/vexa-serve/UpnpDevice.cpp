#include "tools/vexa-serve/UpnpDevice.h"

// Not routed yet: the device is the next piece of work.
void RegisterUpnpRoutes(HttpFront&, ServerContext&) {}

bool SsdpAnnouncer::Start(const ServerContext&, std::string*) { return true; }

void SsdpAnnouncer::Stop() {}
