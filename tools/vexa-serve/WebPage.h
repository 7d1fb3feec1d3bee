// The web page at "/": the folder tree, each item with its offers, and a player for the
// transport stream (mpegts.js, served by this server from its installed copy).
#pragma once

#include "tools/vexa-serve/HttpFront.h"
#include "tools/vexa-serve/ServerContext.h"

// Routes ServeUrls::kPage and ServeUrls::kPlayerScript.
void RegisterPageRoutes(HttpFront& front, ServerContext& context);
