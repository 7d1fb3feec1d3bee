#include "tools/vexa-serve/ServerContext.h"

#include <cstdio>
#include <cstdlib>
#include <random>

#include "platform/files/TextConvert.h"
#include "platform/settings/VexaSettings.h"

namespace {

constexpr char16_t kProduct[] = u"VexaMediaServer";
constexpr char kUuidValue[] = "ServerDeviceUuid";

bool ParsePort(const char* text, uint16_t* port) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text || *end != 0 || value < 0 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

// A random (version 4) UUID in its text form.
std::string MakeUuid() {
  std::random_device source;
  uint8_t bytes[16];
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(source());
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

}  // namespace

bool ParseServeOptions(int argc, char** argv, ServeOptions* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (!value) {
      *error = "missing value or unknown option: " + arg;
      return false;
    }
    if (arg == "--root") {
      options->root = value;
    } else if (arg == "--port") {
      if (!ParsePort(value, &options->port)) {
        *error = std::string("not a port: ") + value;
        return false;
      }
    } else if (arg == "--name") {
      options->name = value;
    } else if (arg == "--interface") {
      options->interfaceName = value;
    } else if (arg == "--plugin") {
      options->plugin = value;
    } else {
      *error = "unknown option: " + arg;
      return false;
    }
    ++i;
  }
  if (options->root.empty()) {
    *error = "--root is required";
    return false;
  }
  return true;
}

std::string ServerContext::BaseUrl() const { return ServeUrls::Base(address, port); }

namespace ServeUrls {

std::string Base(const std::string& address, uint16_t port) {
  return "http://" + address + ":" + std::to_string(port);
}

std::string PercentEncodePath(const std::string& id) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : id) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
    if (plain) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 0x0F];
    }
  }
  return encoded;
}

std::string Media(const std::string& id) { return kMedia + PercentEncodePath(id); }

std::string Stream(uint32_t offerIndex, const std::string& id) {
  return kStream + std::to_string(offerIndex) + "/" + PercentEncodePath(id);
}

}  // namespace ServeUrls

int32_t OffersForClient(ServerContext& context, const MediaEntry& item,
                        const std::string& userAgent, const std::string& clientAddress,
                        std::vector<PluginOffer>* offers) {
  std::u16string path;
  if (!VexaFiles::Utf8ToUtf16String(item.path, path)) return NS::kTranscoderNothingToOffer;
  HostRequest request(clientAddress, userAgent, clientAddress);
  HostItem hostItem(path);
  return GetPluginOffers(context.plugin.Upnp(), request, hostItem, offers);
}

bool LoadDeviceUuid(std::string* uuid, std::string* error) {
  veds::SettingsPtr settings;
  if (!veds::OpenSettings(false, true, kProduct, false, settings)) {
    *error = "cannot open the settings store";
    return false;
  }
  std::string stored;
  if (settings->GetString(kUuidValue, stored) && stored.size() == 36) {
    *uuid = "uuid:" + stored;
    return true;
  }
  stored = MakeUuid();
  if (!settings->SetString(kUuidValue, stored.c_str())) {
    *error = "cannot store the device UUID";
    return false;
  }
  *uuid = "uuid:" + stored;
  return true;
}
