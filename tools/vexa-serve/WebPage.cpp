#include "tools/vexa-serve/WebPage.h"

// Not routed yet: the page is the next piece of work.
void RegisterPageRoutes(HttpFront&, ServerContext&) {}
