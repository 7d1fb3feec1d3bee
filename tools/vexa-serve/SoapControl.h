// UPnP control over SOAP: the action a control request's body names, with its arguments, and
// the answer's body, either the action's out arguments or a UPnP error.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The UPnP errors the services answer with.
enum class UpnpError : int {
  kNone = 0,
  kInvalidAction = 401,
  kInvalidArgs = 402,
  kActionFailed = 501,
  kNoSuchObject = 701,
  kInvalidConnectionReference = 706,
  kNoSuchContainer = 710,
};

using SoapArguments = std::vector<std::pair<std::string, std::string>>;

struct SoapAction {
  std::string serviceType;  // the action element's namespace
  std::string name;
  SoapArguments arguments;  // in the order sent

  // The argument's value, or null when it was not sent.
  const std::string* Argument(const char* argumentName) const;
};

struct SoapAnswer {
  UpnpError error = UpnpError::kNone;
  SoapArguments out;  // in the order the service's description lists them
};

// Reads a control request's body (parsed with ixml). False when it is not a SOAP envelope whose
// body holds an action element.
bool ParseSoapAction(const std::string& body, SoapAction* action);

// The envelope answering actionName of serviceType: the answer's out arguments, or its fault.
std::string SoapAnswerBody(const std::string& serviceType, const std::string& actionName,
                           const SoapAnswer& answer);

// An unsigned 32-bit argument ("ui4"): decimal digits only, in range.
bool ParseUi4(const std::string& text, uint32_t* value);
