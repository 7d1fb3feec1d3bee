// Event subscriptions (GENA SUBSCRIBE and UNSUBSCRIBE) are answered so that control points
// that subscribe before browsing go on: each subscription gets an id and a time-out, renewals
// and cancellations are acknowledged. The server's evented variables never change while it
// runs, so it keeps no subscribers and sends no event messages.
#pragma once

#include <atomic>
#include <string>
#include <utility>

#include "tools/vexa-serve/HttpFront.h"

class EventSubscriptions {
 public:
  // sidPrefix makes the ids unique to this device ("uuid:...").
  explicit EventSubscriptions(std::string sidPrefix) : m_sidPrefix(std::move(sidPrefix)) {}

  MHD_Result Subscribe(const HttpExchange& exchange);
  MHD_Result Unsubscribe(const HttpExchange& exchange) const;

 private:
  std::string m_sidPrefix;
  std::atomic<unsigned long> m_issued{0};
};
