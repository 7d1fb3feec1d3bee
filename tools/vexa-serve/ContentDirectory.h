// The ContentDirectory:1 service: Browse over the served folder (each item with the offers the
// plug-in makes to the asking client), and the capability and update-id queries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/vexa-serve/DidlLite.h"
#include "tools/vexa-serve/ServerContext.h"
#include "tools/vexa-serve/SoapControl.h"

inline constexpr char kContentDirectoryType[] = "urn:schemas-upnp-org:service:ContentDirectory:1";

// The children [begin, end) that one Browse returns out of total: from startingIndex, at most
// requestedCount of them (0 asks for all that are left).
struct BrowsePage {
  size_t begin = 0;
  size_t end = 0;
};
BrowsePage PageOf(size_t total, uint32_t startingIndex, uint32_t requestedCount);

// Who asks: the plug-in's offers depend on it, and its res URLs begin with the base URL it
// reached the server at.
struct BrowsingClient {
  std::string userAgent;
  std::string address;
  std::string baseUrl;
};

class ContentDirectory {
 public:
  // systemUpdateId is what GetSystemUpdateID and every Browse answer report.
  ContentDirectory(ServerContext& context, uint32_t systemUpdateId)
      : m_context(context), m_systemUpdateId(systemUpdateId) {}

  SoapAnswer Answer(const SoapAction& action, const BrowsingClient& client) const;

 private:
  SoapAnswer Browse(const SoapAction& action, const BrowsingClient& client) const;
  DidlObject Describe(const MediaEntry& entry, const BrowsingClient& client) const;
  SoapAnswer BrowseResult(const std::vector<DidlObject>& objects, size_t totalMatches) const;

  ServerContext& m_context;
  uint32_t m_systemUpdateId;
};
