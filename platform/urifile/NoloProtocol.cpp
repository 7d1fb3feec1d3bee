#include "platform/urifile/NoloProtocol.h"

#include <cstring>

namespace VexaUri {
namespace {

constexpr char kNoloPrefix[] = "nolo://";
constexpr size_t kNoloPrefixLength = sizeof(kNoloPrefix) - 1;

// Reads 1..maxDigits decimal digits at `at`; false when there is none or too many.
bool ReadNumber(const char*& at, size_t maxDigits, uint32_t* value) {
  uint32_t number = 0;
  size_t digits = 0;
  while (*at >= '0' && *at <= '9') {
    if (++digits > maxDigits) return false;
    number = number * 10 + static_cast<uint32_t>(*at++ - '0');
  }
  *value = number;
  return digits > 0;
}

}  // namespace

bool ParseNoloUrl(const char* url, NoloAddress* address) {
  if (!url || !address || std::strlen(url) < kNoloMinUrlLength ||
      std::strncmp(url, kNoloPrefix, kNoloPrefixLength) != 0)
    return false;
  const char* at = url + kNoloPrefixLength;
  NoloAddress parsed{{0, 0, 0, 0}, kNoloDefaultPort};
  for (int index = 0; index < 4; ++index) {
    if (index > 0 && *at++ != '.') return false;
    uint32_t octet = 0;
    if (!ReadNumber(at, 3, &octet) || octet > kNoloMaxOctet) return false;
    parsed.octets[index] = static_cast<uint8_t>(octet);
  }
  if (*at == ':') {
    ++at;
    uint32_t port = 0;
    if (!ReadNumber(at, 5, &port) || port < 1 || port > 65535) return false;
    parsed.port = static_cast<uint16_t>(port);
  }
  if (*at != 0 && *at != '/') return false;
  *address = parsed;
  return true;
}

void PutBigEndian(uint64_t value, size_t bytes, uint8_t* out) {
  for (size_t i = 0; i < bytes; ++i) out[bytes - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetBigEndian(const uint8_t* in, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes; ++i) value = (value << 8) | in[i];
  return value;
}

bool EncodeNoloHeader(uint8_t type, uint8_t status, size_t payloadLength, uint16_t sequence,
                      uint8_t* out) {
  if (payloadLength > kNoloMaxPayload) return false;
  NoloHeader header{kNoloVersion, type, status, {}, {}};
  PutBigEndian(payloadLength, 2, header.length);
  PutBigEndian(sequence, 2, header.sequence);
  std::memcpy(out, &header, sizeof header);
  return true;
}

NoloParse ParseNoloMessage(const uint8_t* bytes, size_t count, NoloMessageView* message) {
  if (count < 1) return kNoloIncomplete;
  // The version is judged from the first byte alone, so a peer of another version is refused
  // at once instead of being waited for.
  if (bytes[0] != kNoloVersion) return kNoloBadVersion;
  if (count < kNoloHeaderBytes) return kNoloIncomplete;
  NoloHeader header;
  std::memcpy(&header, bytes, sizeof header);
  const size_t length = GetBigEndian(header.length, 2);
  if (length > kNoloMaxPayload) return kNoloBadLength;
  if (count < kNoloHeaderBytes + length) return kNoloIncomplete;
  *message = {header.type, header.status, static_cast<uint16_t>(GetBigEndian(header.sequence, 2)),
              bytes + kNoloHeaderBytes, length};
  return kNoloComplete;
}

}  // namespace VexaUri
