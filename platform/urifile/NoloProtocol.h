// The "nolo://" byte source: URL rules and the messages exchanged with a nolo server over TCP.
//
// URL: "nolo://" A.B.C.D [":" port] ["/" anything], at least 14 characters; each of the four
// decimal numbers at most 254; the port 1..65535, 31337 when absent.
//
// Every exchange is one request from the client and one answer from the server. A message is a
// 7-byte header followed by at most 4096 payload bytes (4103 bytes in all). Header, version 1:
//
//   byte 0     version: 1. A message of any other version is refused (kNoloBadVersion) and
//              the exchange fails; both sides must speak the same version.
//   byte 1     type: 1 size request, 2 read request; the answers have the high bit set:
//              0x81 size answer, 0x82 data answer.
//   byte 2     status: 0 in requests; in answers 0 ok, 1 end of data (the offset is at or past
//              the end), 2 failed.
//   bytes 3-4  payload length, big-endian, 0..4096.
//   bytes 5-6  sequence number, big-endian; an answer echoes its request's number, so a late
//              answer to an earlier request is told apart.
//
// Payloads, numbers big-endian:
//   size request   none
//   size answer    8 bytes: the resource size
//   read request   8 bytes offset, 4 bytes count (1..4096)
//   data answer    the bytes from the offset, at most count of them (none with status 1)
#pragma once

#include <cstddef>
#include <cstdint>

namespace VexaUri {

constexpr uint16_t kNoloDefaultPort = 31337;
constexpr size_t kNoloMinUrlLength = 14;
constexpr uint32_t kNoloMaxOctet = 254;

constexpr uint8_t kNoloVersion = 1;
constexpr size_t kNoloHeaderBytes = 7;
constexpr size_t kNoloMaxPayload = 4096;
constexpr size_t kNoloMaxMessage = kNoloHeaderBytes + kNoloMaxPayload;  // 4103
constexpr size_t kNoloReadRequestPayload = 12;
constexpr size_t kNoloSizeAnswerPayload = 8;

enum NoloType : uint8_t {
  kNoloSizeRequest = 1,
  kNoloReadRequest = 2,
  kNoloAnswerBit = 0x80,
  kNoloSizeAnswer = 0x81,
  kNoloDataAnswer = 0x82,
};

enum NoloStatus : uint8_t { kNoloStatusOk = 0, kNoloStatusEnd = 1, kNoloStatusFailed = 2 };

struct NoloHeader {
  uint8_t version;
  uint8_t type;
  uint8_t status;
  uint8_t length[2];
  uint8_t sequence[2];
};
static_assert(sizeof(NoloHeader) == kNoloHeaderBytes);

struct NoloAddress {
  uint8_t octets[4];
  uint16_t port;
};

// False for anything that breaks the URL rules above.
bool ParseNoloUrl(const char* url, NoloAddress* address);

// Writes a header; false when the payload is too long.
bool EncodeNoloHeader(uint8_t type, uint8_t status, size_t payloadLength, uint16_t sequence,
                      uint8_t* out);

enum NoloParse : int32_t {
  kNoloComplete = 0,
  kNoloIncomplete = 1,    // more bytes are needed
  kNoloBadVersion = 2,    // another version of the layout
  kNoloBadLength = 3,     // a payload longer than 4096 bytes
};

struct NoloMessageView {
  uint8_t type;
  uint8_t status;
  uint16_t sequence;
  const uint8_t* payload;
  size_t payloadLength;
};

// Looks at the first `count` received bytes.
NoloParse ParseNoloMessage(const uint8_t* bytes, size_t count, NoloMessageView* message);

void PutBigEndian(uint64_t value, size_t bytes, uint8_t* out);
uint64_t GetBigEndian(const uint8_t* in, size_t bytes);

}  // namespace VexaUri
