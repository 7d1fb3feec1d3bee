#include "tools/vexa-serve/ContentDirectory.h"

#include <algorithm>
#include <vector>

namespace {

constexpr char kBrowseMetadata[] = "BrowseMetadata";
constexpr char kBrowseDirectChildren[] = "BrowseDirectChildren";

}  // namespace

BrowsePage PageOf(size_t total, uint32_t startingIndex, uint32_t requestedCount) {
  BrowsePage page;
  page.begin = std::min<size_t>(total, startingIndex);
  size_t left = total - page.begin;
  page.end = page.begin + (requestedCount == 0 ? left : std::min<size_t>(left, requestedCount));
  return page;
}

SoapAnswer ContentDirectory::Answer(const SoapAction& action, const BrowsingClient& client) const {
  SoapAnswer answer;
  if (action.name == "Browse") return Browse(action, client);
  if (action.name == "GetSearchCapabilities")
    answer.out = {{"SearchCaps", ""}};
  else if (action.name == "GetSortCapabilities")
    answer.out = {{"SortCaps", ""}};
  else if (action.name == "GetSystemUpdateID")
    answer.out = {{"Id", std::to_string(m_systemUpdateId)}};
  else
    answer.error = UpnpError::kInvalidAction;
  return answer;
}

// Filter and SortCriteria are accepted and not applied: every property is always sent, and
// children come in the library's order (folders first, then by name).
SoapAnswer ContentDirectory::Browse(const SoapAction& action, const BrowsingClient& client) const {
  SoapAnswer refused;
  const std::string* objectId = action.Argument("ObjectID");
  const std::string* flag = action.Argument("BrowseFlag");
  const std::string* startText = action.Argument("StartingIndex");
  const std::string* countText = action.Argument("RequestedCount");
  uint32_t start = 0, count = 0;
  if (!objectId || !flag || !startText || !countText || !ParseUi4(*startText, &start) ||
      !ParseUi4(*countText, &count) || (*flag != kBrowseMetadata && *flag != kBrowseDirectChildren)) {
    refused.error = UpnpError::kInvalidArgs;
    return refused;
  }
  MediaEntry object;
  if (m_context.library.Find(*objectId, &object) != LookupResult::kFound) {
    refused.error = UpnpError::kNoSuchObject;
    return refused;
  }
  if (*flag == kBrowseMetadata) return BrowseResult({Describe(object, client)}, 1);
  std::vector<MediaEntry> children;
  if (!object.container || m_context.library.List(object.id, &children) != LookupResult::kFound) {
    refused.error = UpnpError::kNoSuchContainer;
    return refused;
  }
  BrowsePage page = PageOf(children.size(), start, count);
  std::vector<DidlObject> described;
  for (size_t i = page.begin; i < page.end; ++i) described.push_back(Describe(children[i], client));
  return BrowseResult(described, children.size());
}

DidlObject ContentDirectory::Describe(const MediaEntry& entry, const BrowsingClient& client) const {
  if (entry.container) {
    std::vector<MediaEntry> children;
    m_context.library.List(entry.id, &children);
    return DescribeContainer(entry, children.size());
  }
  std::vector<PluginOffer> offers;  // a client the plug-in does not serve gets the original only
  if (OffersForClient(m_context, entry, client.userAgent, client.address, &offers) != 0)
    offers.clear();
  return DescribeItem(entry, client.baseUrl, offers);
}

SoapAnswer ContentDirectory::BrowseResult(const std::vector<DidlObject>& objects,
                                          size_t totalMatches) const {
  SoapAnswer answer;
  answer.out = {{"Result", WriteDidlLite(objects)},
                {"NumberReturned", std::to_string(objects.size())},
                {"TotalMatches", std::to_string(totalMatches)},
                {"UpdateID", std::to_string(m_systemUpdateId)}};
  return answer;
}
