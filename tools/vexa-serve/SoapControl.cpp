#include "tools/vexa-serve/SoapControl.h"

#include <ixml.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "tools/vexa-serve/XmlText.h"

namespace {

constexpr char kEnvelopeNamespace[] = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr char kEnvelopeOpen[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\""
    " s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
constexpr char kEnvelopeClose[] = "</s:Body></s:Envelope>\n";

struct DocumentFree {
  void operator()(IXML_Document* document) const { ixmlDocument_free(document); }
};
using DocumentPtr = std::unique_ptr<IXML_Document, DocumentFree>;

std::string Text(const DOMString text) { return text ? std::string(text) : std::string(); }

IXML_Node* FirstElement(IXML_Node* parent) {
  IXML_Node* child = parent ? ixmlNode_getFirstChild(parent) : nullptr;
  while (child && ixmlNode_getNodeType(child) != eELEMENT_NODE)
    child = ixmlNode_getNextSibling(child);
  return child;
}

IXML_Node* NextElement(IXML_Node* node) {
  IXML_Node* next = ixmlNode_getNextSibling(node);
  while (next && ixmlNode_getNodeType(next) != eELEMENT_NODE) next = ixmlNode_getNextSibling(next);
  return next;
}

// An element's local name, which ixml leaves empty when the element has no prefix.
std::string LocalName(IXML_Node* element) {
  std::string local = Text(ixmlNode_getLocalName(element));
  return local.empty() ? Text(ixmlNode_getNodeName(element)) : local;
}

bool IsEnvelopePart(IXML_Node* element, const char* localName) {
  return element && LocalName(element) == localName &&
         Text(ixmlNode_getNamespaceURI(element)) == kEnvelopeNamespace;
}

// The text an argument element holds (its entities already decoded by the parser).
std::string ElementText(IXML_Node* element) {
  std::string text;
  for (IXML_Node* child = ixmlNode_getFirstChild(element); child;
       child = ixmlNode_getNextSibling(child)) {
    unsigned short type = ixmlNode_getNodeType(child);
    if (type == eTEXT_NODE || type == eCDATA_SECTION_NODE) text += Text(ixmlNode_getNodeValue(child));
  }
  return text;
}

const char* ErrorDescription(UpnpError error) {
  switch (error) {
    case UpnpError::kInvalidAction: return "Invalid Action";
    case UpnpError::kInvalidArgs: return "Invalid Args";
    case UpnpError::kActionFailed: return "Action Failed";
    case UpnpError::kNoSuchObject: return "No such object";
    case UpnpError::kInvalidConnectionReference: return "Invalid connection reference";
    case UpnpError::kNoSuchContainer: return "No such container";
    case UpnpError::kNone: break;
  }
  return "";
}

}  // namespace

const std::string* SoapAction::Argument(const char* argumentName) const {
  for (const auto& [name, value] : arguments)
    if (name == argumentName) return &value;
  return nullptr;
}

bool ParseSoapAction(const std::string& body, SoapAction* action) {
  if (body.find('\0') != std::string::npos) return false;
  DocumentPtr document(ixmlParseBuffer(body.c_str()));
  if (!document) return false;
  IXML_Node* envelope = FirstElement(reinterpret_cast<IXML_Node*>(document.get()));
  if (!IsEnvelopePart(envelope, "Envelope")) return false;
  IXML_Node* part = FirstElement(envelope);
  while (part && !IsEnvelopePart(part, "Body")) part = NextElement(part);
  IXML_Node* call = FirstElement(part);
  if (!call) return false;
  action->serviceType = Text(ixmlNode_getNamespaceURI(call));
  action->name = LocalName(call);
  action->arguments.clear();
  for (IXML_Node* argument = FirstElement(call); argument; argument = NextElement(argument))
    action->arguments.emplace_back(LocalName(argument), ElementText(argument));
  return true;
}

std::string SoapAnswerBody(const std::string& serviceType, const std::string& actionName,
                           const SoapAnswer& answer) {
  std::string xml = kEnvelopeOpen;
  if (answer.error != UpnpError::kNone) {
    xml += "<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring>"
           "<detail><UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>";
    xml += std::to_string(static_cast<int>(answer.error));
    xml += "</errorCode><errorDescription>";
    xml += ErrorDescription(answer.error);
    xml += "</errorDescription></UPnPError></detail></s:Fault>";
  } else {
    std::string element = "u:" + XmlEscape(actionName) + "Response";
    xml += "<" + element + " xmlns:u=\"" + XmlEscape(serviceType) + "\">";
    for (const auto& [name, value] : answer.out)
      xml += "<" + name + ">" + XmlEscape(value) + "</" + name + ">";
    xml += "</" + element + ">";
  }
  xml += kEnvelopeClose;
  return xml;
}

bool ParseUi4(const std::string& text, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  if (number > UINT32_MAX) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}
