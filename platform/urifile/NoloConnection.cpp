#include "platform/urifile/NoloConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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

bool NoloConnection::WaitFor(short events) {
  if (m_aborted && m_aborted->load()) return false;
  pollfd entry{m_socket.Get(), events, 0};
  ::poll(&entry, 1, static_cast<int>(kNoloWaitMs));
  return !(m_aborted && m_aborted->load());
}

int32_t NoloConnection::Connect(const NoloAddress& address) {
  m_socket = VexaOS::CFileDescriptor(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!m_socket.IsOpen()) return kUriFailed;
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(address.port);
  std::memcpy(&peer.sin_addr, address.octets, sizeof address.octets);
  if (::connect(m_socket.Get(), reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0)
    return kUriOk;
  if (errno != EINPROGRESS) return kUriFailed;
  for (uint32_t attempt = 0; attempt <= kNoloMaxAttempts; ++attempt) {
    if (!WaitFor(POLLOUT)) return kUriAborted;
    pollfd entry{m_socket.Get(), POLLOUT, 0};
    if (::poll(&entry, 1, 0) != 1) continue;
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(m_socket.Get(), SOL_SOCKET, SO_ERROR, &error, &length);
    return error == 0 ? kUriOk : kUriFailed;
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
    const ssize_t put = ::send(m_socket.Get(), m_request + sent, bytes - sent, MSG_NOSIGNAL);
    if (put > 0) {
      sent += static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return kUriFailed;
    if (++attempt > kNoloMaxAttempts) return kUriFailed;
    if (!WaitFor(POLLOUT)) return kUriAborted;
  }
  return kUriOk;
}

int32_t NoloConnection::ReceiveAnswer(NoloMessageView* answer) {
  size_t received = 0;
  for (uint32_t attempt = 0;;) {
    const ssize_t got = ::recv(m_socket.Get(), m_answer + received, kNoloMaxMessage - received, 0);
    if (got == 0) return kUriFailed;  // the server closed the connection
    if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return kUriFailed;
    if (got > 0) received += static_cast<size_t>(got);
    switch (ParseNoloMessage(m_answer, received, answer)) {
      case kNoloComplete: return kUriOk;
      case kNoloIncomplete: break;
      case kNoloBadVersion:
      case kNoloBadLength: return kUriFailed;
    }
    if (got > 0) continue;  // read on while bytes keep coming
    if (++attempt > kNoloMaxAttempts) return kUriFailed;  // a server that stopped answering
    if (!WaitFor(POLLIN)) return kUriAborted;
  }
}

}  // namespace VexaUri
