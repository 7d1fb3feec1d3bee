#include "platform/urifile/NoloConnection.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/files/UriResult.h"
#include "platform/os/MemoryArena.h"

namespace VexaUri {

using namespace VexaFiles;

NoloConnection* NoloConnection::Create(VexaOS::MemoryArena* arena,
                                       const std::atomic<bool>* aborted) {
  void* place = VexaOS::ArenaOrHeapAlloc(arena, sizeof(NoloConnection));
  return place ? new (place) NoloConnection(arena, aborted) : nullptr;
}

void NoloConnection::Destroy(NoloConnection* connection) {
  if (!connection) return;
  VexaOS::MemoryArena* arena = connection->m_arena;
  connection->~NoloConnection();
  VexaOS::ArenaOrHeapFree(arena, connection);
}

bool NoloConnection::WaitFor(bool writable) {
  if (m_aborted && m_aborted->load()) return false;
  if (writable)
    m_socket.WaitWritable(kNoloWaitMs);
  else
    m_socket.WaitReadable(kNoloWaitMs);
  return !(m_aborted && m_aborted->load());
}

int32_t NoloConnection::Connect(const NoloAddress& address) {
  char host[16];  // a dotted IPv4 address
  std::snprintf(host, sizeof host, "%u.%u.%u.%u", address.octets[0], address.octets[1], address.octets[2],
                address.octets[3]);
  const int32_t started = m_socket.Connect(host, address.port);
  if (started == VexaHttp::kSocketDone) return kUriOk;
  if (started != VexaHttp::kSocketWouldBlock) return kUriFailed;
  for (uint32_t attempt = 0; attempt <= kNoloMaxAttempts; ++attempt) {
    if (m_aborted && m_aborted->load()) return kUriAborted;
    const int32_t connected = m_socket.WaitWritable(kNoloWaitMs);
    if (connected == VexaHttp::kSocketDone) return kUriOk;
    if (connected == VexaHttp::kSocketFailed) return kUriFailed;
  }
  return kUriFailed;
}

int32_t NoloConnection::Open(const NoloAddress& address) {
  m_socket.Close();
  m_size = 0;
  const int32_t connected = Connect(address);
  if (connected != kUriOk) {
    m_socket.Close();
    return connected;
  }
  NoloMessageView answer{};
  const int32_t result = Exchange(kNoloSizeRequest, 0, &answer);
  if (result != kUriOk) return result;
  if (answer.type != kNoloSizeAnswer || answer.status != kNoloStatusOk ||
      answer.payloadLength != kNoloSizeAnswerPayload)
    return kUriFailed;
  m_size = GetBigEndian(answer.payload, kNoloSizeAnswerPayload);
  return kUriOk;
}

int32_t NoloConnection::ReadAt(uint64_t offset, void* buffer, uint32_t* count) {
  const uint32_t asked = *count < kNoloMaxPayload ? *count : static_cast<uint32_t>(kNoloMaxPayload);
  *count = 0;
  if (asked == 0) return kUriOk;
  PutBigEndian(offset, 8, m_request + kNoloHeaderBytes);
  PutBigEndian(asked, 4, m_request + kNoloHeaderBytes + 8);
  NoloMessageView answer{};
  const int32_t result = Exchange(kNoloReadRequest, kNoloReadRequestPayload, &answer);
  if (result != kUriOk) return result;
  if (answer.type != kNoloDataAnswer || answer.payloadLength > asked) return kUriFailed;
  if (answer.status == kNoloStatusEnd) return kUriEnd;
  if (answer.status != kNoloStatusOk) return kUriFailed;
  std::memcpy(buffer, answer.payload, answer.payloadLength);
  *count = static_cast<uint32_t>(answer.payloadLength);
  return kUriOk;
}

int32_t NoloConnection::Exchange(uint8_t type, size_t payloadLength, NoloMessageView* answer) {
  if (!m_socket.IsOpen()) return kUriFailed;
  const uint16_t sequence = ++m_sequence;
  EncodeNoloHeader(type, kNoloStatusOk, payloadLength, sequence, m_request);
  int32_t result = SendAll(kNoloHeaderBytes + payloadLength);
  if (result == kUriOk) result = ReceiveAnswer(answer);
  if (result == kUriOk && (answer->sequence != sequence || answer->type != (type | kNoloAnswerBit)))
    result = kUriFailed;
  // After a failed exchange the stream may hold half a message: nothing more is read from it.
  if (result != kUriOk) m_socket.Close();
  return result;
}

int32_t NoloConnection::SendAll(size_t bytes) {
  size_t sent = 0;
  for (uint32_t attempt = 0; sent < bytes;) {
    uint32_t put = static_cast<uint32_t>(bytes - sent);
    if (m_socket.Send(m_request + sent, &put) == VexaHttp::kSocketFailed) return kUriFailed;
    if (put > 0) {
      sent += put;
      continue;
    }
    if (++attempt > kNoloMaxAttempts) return kUriFailed;
    if (!WaitFor(true)) return kUriAborted;
  }
  return kUriOk;
}

int32_t NoloConnection::ReceiveAnswer(NoloMessageView* answer) {
  size_t received = 0;
  for (uint32_t attempt = 0;;) {
    uint32_t got = static_cast<uint32_t>(kNoloMaxMessage - received);
    const int32_t result = m_socket.Receive(m_answer + received, &got);
    if (result == VexaHttp::kSocketFailed) return kUriFailed;
    if (result == VexaHttp::kSocketDone && got == 0) return kUriFailed;  // the server closed the connection
    received += got;
    switch (ParseNoloMessage(m_answer, received, answer)) {
      case kNoloComplete: return kUriOk;
      case kNoloIncomplete: break;
      case kNoloBadVersion:
      case kNoloBadLength: return kUriFailed;
    }
    if (got > 0) continue;  // read on while bytes keep coming
    if (++attempt > kNoloMaxAttempts) return kUriFailed;  // a server that stopped answering
    if (!WaitFor(false)) return kUriAborted;
  }
}

}  // namespace VexaUri
