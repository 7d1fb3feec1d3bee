#include "tools/vexa-serve/SsdpMessages.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  size_t end = text.find_last_not_of(" \t\r");
  return begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
}

std::string HostLine() { return "HOST: " + std::string(kSsdpGroup) + ":" + std::to_string(kSsdpPort); }

}  // namespace

std::vector<SsdpTarget> SsdpTargets(const SsdpDevice& device) {
  std::vector<SsdpTarget> targets = {{kSsdpRootDevice, device.uuid + "::" + kSsdpRootDevice},
                                     {device.uuid, device.uuid},
                                     {device.deviceType, device.uuid + "::" + device.deviceType}};
  for (const std::string& service : device.serviceTypes)
    targets.push_back({service, device.uuid + "::" + service});
  return targets;
}

std::vector<SsdpTarget> TargetsFound(const SsdpDevice& device, const std::string& searchTarget) {
  std::vector<SsdpTarget> found;
  for (const SsdpTarget& target : SsdpTargets(device))
    if (searchTarget == kSsdpSearchAll || searchTarget == target.type) found.push_back(target);
  return found;
}

// Header names compare without regard to case; MAN must be "ssdp:discover", quoted.
bool ParseSearch(const std::string& datagram, std::string* searchTarget) {
  std::istringstream lines(datagram);
  std::string line;
  if (!std::getline(lines, line) || Trim(line) != "M-SEARCH * HTTP/1.1") return false;
  bool discover = false;
  searchTarget->clear();
  while (std::getline(lines, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = Lower(Trim(line.substr(0, colon)));
    std::string value = Trim(line.substr(colon + 1));
    if (name == "man") discover = value == "\"ssdp:discover\"";
    if (name == "st") *searchTarget = value;
  }
  return discover && !searchTarget->empty();
}

std::string AliveNotification(const SsdpDevice& device, const SsdpTarget& target) {
  return "NOTIFY * HTTP/1.1\r\n" + HostLine() + "\r\nCACHE-CONTROL: max-age=" +
         std::to_string(device.maxAgeSeconds) + "\r\nLOCATION: " + device.location +
         "\r\nNT: " + target.type + "\r\nNTS: ssdp:alive\r\nSERVER: " + kServerProduct +
         "\r\nUSN: " + target.usn + "\r\n\r\n";
}

std::string ByebyeNotification(const SsdpTarget& target) {
  return "NOTIFY * HTTP/1.1\r\n" + HostLine() + "\r\nNT: " + target.type +
         "\r\nNTS: ssdp:byebye\r\nUSN: " + target.usn + "\r\n\r\n";
}

std::string SearchAnswer(const SsdpDevice& device, const SsdpTarget& target) {
  return "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=" + std::to_string(device.maxAgeSeconds) +
         "\r\nEXT:\r\nLOCATION: " + device.location + "\r\nSERVER: " + kServerProduct +
         "\r\nST: " + target.type + "\r\nUSN: " + target.usn + "\r\n\r\n";
}
