// The ConnectionManager:1 service of a server without connection preparation: one connection,
// id 0, always there.
#pragma once

#include "tools/vexa-serve/SoapControl.h"

inline constexpr char kConnectionManagerType[] = "urn:schemas-upnp-org:service:ConnectionManager:1";

SoapAnswer AnswerConnectionManager(const SoapAction& action);
