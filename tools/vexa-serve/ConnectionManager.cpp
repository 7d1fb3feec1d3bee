#include "tools/vexa-serve/ConnectionManager.h"

#include <cstdint>
#include <string>

#include "tools/vexa-serve/DidlLite.h"

namespace {

constexpr uint32_t kOnlyConnection = 0;

// The forms this server itself serves; the plug-in's forms depend on the client and the item,
// and are named in each item's resources instead.
std::string SourceProtocols() {
  return std::string(kOriginalProtocolInfo) + "," + kSubtitleProtocolInfo;
}

SoapAnswer CurrentConnectionInfo(const SoapAction& action) {
  SoapAnswer answer;
  const std::string* idText = action.Argument("ConnectionID");
  uint32_t id = 0;
  if (!idText || !ParseUi4(*idText, &id)) {
    answer.error = UpnpError::kInvalidArgs;
  } else if (id != kOnlyConnection) {
    answer.error = UpnpError::kInvalidConnectionReference;
  } else {
    answer.out = {{"RcsID", "-1"},         {"AVTransportID", "-1"},
                  {"ProtocolInfo", ""},    {"PeerConnectionManager", ""},
                  {"PeerConnectionID", "-1"}, {"Direction", "Output"},
                  {"Status", "OK"}};
  }
  return answer;
}

}  // namespace

SoapAnswer AnswerConnectionManager(const SoapAction& action) {
  SoapAnswer answer;
  if (action.name == "GetProtocolInfo")
    answer.out = {{"Source", SourceProtocols()}, {"Sink", ""}};
  else if (action.name == "GetCurrentConnectionIDs")
    answer.out = {{"ConnectionIDs", std::to_string(kOnlyConnection)}};
  else if (action.name == "GetCurrentConnectionInfo")
    return CurrentConnectionInfo(action);
  else
    answer.error = UpnpError::kInvalidAction;
  return answer;
}
