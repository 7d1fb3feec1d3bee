// The socket over Winsock 2. Each socket starts the socket library when it is made and stops it
// when it is closed, so the starts and stops always balance and no caller has to start it first.
#include "platform/http/HttpSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>

namespace VexaHttp {
namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

SOCKET Handle(intptr_t socket) { return static_cast<SOCKET>(socket); }

bool WouldBlock(int error) { return error == WSAEWOULDBLOCK || error == WSAEINTR; }

// Owns the list the resolver answers with.
class AddressList {
 public:
  AddressList() = default;
  AddressList(const AddressList&) = delete;
  AddressList& operator=(const AddressList&) = delete;
  ~AddressList() {
    if (m_first) ::freeaddrinfo(m_first);
  }
  addrinfo** Receive() { return &m_first; }
  const addrinfo* First() const { return m_first; }

 private:
  addrinfo* m_first = nullptr;
};

int32_t Poll(SOCKET socket, short events, uint32_t milliseconds) {
  WSAPOLLFD entry{socket, events, 0};
  const int ready = ::WSAPoll(&entry, 1, static_cast<INT>(milliseconds));
  if (ready == 0) return kSocketWouldBlock;
  if (ready < 0) return kSocketFailed;
  // A refused connect reports POLLERR or POLLHUP without POLLOUT.
  return (events & POLLOUT) && !(entry.revents & POLLOUT) ? kSocketFailed : kSocketDone;
}

}  // namespace


// A socket made from the first address the resolver gives, not yet connected; INVALID_SOCKET
// when there is none.
SOCKET MakeSocket(const char* host, uint16_t port, AddressList& found) {
  char service[8];
  std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  if (::getaddrinfo(host, service, &hints, found.Receive()) != 0 || !found.First()) return INVALID_SOCKET;
  const addrinfo* address = found.First();
  return ::WSASocketW(address->ai_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}

int32_t HttpSocket::Connect(const char* host, uint16_t port) {
  Close();
  WSADATA data;
  if (::WSAStartup(kWinsockVersion, &data) != 0) return kSocketFailed;
  AddressList found;
  const SOCKET socket = MakeSocket(host, port, found);
  if (socket == INVALID_SOCKET) {
    ::WSACleanup();  // no socket holds the start
    return kSocketFailed;
  }
  m_socket = static_cast<intptr_t>(socket);  // from here Close stops the library
  u_long nonBlocking = 1;
  int32_t result = kSocketFailed;
  if (::ioctlsocket(socket, FIONBIO, &nonBlocking) == 0) {
    const addrinfo* address = found.First();
    if (::connect(socket, address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0)
      result = kSocketDone;
    else if (WouldBlock(::WSAGetLastError()))
      result = kSocketWouldBlock;
  }
  if (result == kSocketFailed) Close();
  return result;
}

int32_t HttpSocket::WaitWritable(uint32_t milliseconds) {
  if (!IsOpen()) return kSocketFailed;
  // A failed connect shows as an error or hang-up event rather than as writable.
  const int32_t ready = Poll(Handle(m_socket), POLLOUT, milliseconds);
  if (ready != kSocketDone) return ready;
  int error = 0;
  int size = sizeof error;
  if (::getsockopt(Handle(m_socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 || error != 0)
    return kSocketFailed;
  return kSocketDone;
}

int32_t HttpSocket::WaitReadable(uint32_t milliseconds) {
  if (!IsOpen()) return kSocketFailed;
  return Poll(Handle(m_socket), POLLIN, milliseconds);
}

int32_t HttpSocket::Send(const void* data, uint32_t* count) {
  const int sent = ::send(Handle(m_socket), static_cast<const char*>(data), static_cast<int>(*count), 0);
  if (sent == SOCKET_ERROR) {
    *count = 0;
    return WouldBlock(::WSAGetLastError()) ? kSocketWouldBlock : kSocketFailed;
  }
  *count = static_cast<uint32_t>(sent);
  return kSocketDone;
}

int32_t HttpSocket::Receive(void* data, uint32_t* count) {
  const int got = ::recv(Handle(m_socket), static_cast<char*>(data), static_cast<int>(*count), 0);
  if (got == SOCKET_ERROR) {
    *count = 0;
    return WouldBlock(::WSAGetLastError()) ? kSocketWouldBlock : kSocketFailed;
  }
  *count = static_cast<uint32_t>(got);
  return kSocketDone;
}

void HttpSocket::Close() {
  if (!IsOpen()) return;
  ::closesocket(Handle(m_socket));
  m_socket = kNoSocket;
  ::WSACleanup();
}

void SleepMilliseconds(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace VexaHttp
