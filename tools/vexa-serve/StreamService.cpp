#include "tools/vexa-serve/StreamService.h"

// Not routed yet: streaming is the next piece of work.
void StreamService::Register(HttpFront&) {}

void StreamService::StopAll() {}
