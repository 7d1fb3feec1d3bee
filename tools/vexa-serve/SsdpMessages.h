// The SSDP messages of one root device: its announcements (alive, byebye) to the multicast
// group, and its answers to searches.
#pragma once

#include <string>
#include <vector>

inline constexpr char kSsdpGroup[] = "239.255.255.250";
inline constexpr unsigned kSsdpPort = 1900;
inline constexpr char kSsdpSearchAll[] = "ssdp:all";
inline constexpr char kSsdpRootDevice[] = "upnp:rootdevice";
// What the server calls itself in SSDP and HTTP answers.
inline constexpr char kServerProduct[] = "Linux UPnP/1.0 DLNADOC/1.50 vexa-serve/1.0";

struct SsdpDevice {
  std::string uuid;        // "uuid:..."
  std::string deviceType;
  std::vector<std::string> serviceTypes;
  std::string location;    // the description's URL
  int maxAgeSeconds = 1800;
};

// One thing the device is announced as: its notification type and unique service name.
struct SsdpTarget {
  std::string type;  // NT of a notification, ST of an answer
  std::string usn;
};

// The root device, the device itself, its type and each service type, in that order.
std::vector<SsdpTarget> SsdpTargets(const SsdpDevice& device);

// The targets that answer a search for searchTarget (ST): all of them for "ssdp:all".
std::vector<SsdpTarget> TargetsFound(const SsdpDevice& device, const std::string& searchTarget);

// The ST of a datagram that is an M-SEARCH for discovery; false for any other datagram.
bool ParseSearch(const std::string& datagram, std::string* searchTarget);

std::string AliveNotification(const SsdpDevice& device, const SsdpTarget& target);
std::string ByebyeNotification(const SsdpTarget& target);
std::string SearchAnswer(const SsdpDevice& device, const SsdpTarget& target);
