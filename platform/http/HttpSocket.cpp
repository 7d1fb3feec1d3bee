#include "platform/http/HttpSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace VexaHttp {
namespace {

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

int32_t Poll(int fd, short events, uint32_t milliseconds) {
  pollfd entry{fd, events, 0};
  const int ready = ::poll(&entry, 1, static_cast<int>(milliseconds));
  if (ready == 0 || (ready < 0 && errno == EINTR)) return kSocketWouldBlock;
  return ready < 0 ? kSocketFailed : kSocketDone;
}

bool MakeNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

int Descriptor(intptr_t socket) { return static_cast<int>(socket); }

}  // namespace

int32_t HttpSocket::Connect(const char* host, uint16_t port) {
  Close();
  char service[8];
  std::snprintf(service, sizeof service, "%u", static_cast<unsigned>(port));
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host, service, &hints, &found) != 0 || found == nullptr) return kSocketFailed;
  m_socket = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int32_t result = kSocketFailed;
  if (IsOpen() && MakeNonBlocking(Descriptor(m_socket))) {
    if (::connect(Descriptor(m_socket), found->ai_addr, found->ai_addrlen) == 0) {
      result = kSocketDone;
    } else if (errno == EINPROGRESS || errno == EINTR) {
      result = kSocketWouldBlock;
    }
  }
  ::freeaddrinfo(found);
  if (result == kSocketFailed) Close();
  return result;
}

int32_t HttpSocket::WaitWritable(uint32_t milliseconds) {
  if (!IsOpen()) return kSocketFailed;
  const int32_t ready = Poll(Descriptor(m_socket), POLLOUT, milliseconds);
  if (ready != kSocketDone) return ready;
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(Descriptor(m_socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return kSocketFailed;
  return kSocketDone;
}

int32_t HttpSocket::WaitReadable(uint32_t milliseconds) {
  if (!IsOpen()) return kSocketFailed;
  return Poll(Descriptor(m_socket), POLLIN, milliseconds);
}

int32_t HttpSocket::Send(const void* data, uint32_t* count) {
  ssize_t sent = ::send(Descriptor(m_socket), data, *count, MSG_NOSIGNAL);
  if (sent < 0) {
    *count = 0;
    return WouldBlock(errno) ? kSocketWouldBlock : kSocketFailed;
  }
  *count = static_cast<uint32_t>(sent);
  return kSocketDone;
}

int32_t HttpSocket::Receive(void* data, uint32_t* count) {
  ssize_t got = ::recv(Descriptor(m_socket), data, *count, 0);
  if (got < 0) {
    *count = 0;
    return WouldBlock(errno) ? kSocketWouldBlock : kSocketFailed;
  }
  *count = static_cast<uint32_t>(got);
  return kSocketDone;
}

void HttpSocket::Close() {
  if (IsOpen()) ::close(Descriptor(m_socket));
  m_socket = kNoSocket;
}

void SleepMilliseconds(uint32_t milliseconds) {
  timespec duration{static_cast<time_t>(milliseconds / 1000),
                    static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&duration, &duration) != 0 && errno == EINTR) {
  }
}

}  // namespace VexaHttp
