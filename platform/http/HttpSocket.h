// A non-blocking TCP stream socket (BSD sockets, or Winsock 2 on Windows, where each open socket
// holds one start of the socket library), closed when the object goes. Host names resolve to
// IPv4 or IPv6 (the first address the resolver gives).
#pragma once

#include <cstdint>

namespace VexaHttp {

enum SocketResult : int32_t {
  kSocketDone = 0,
  kSocketFailed = 1,
  kSocketWouldBlock = 2,  // connect: still in progress
};

class HttpSocket {
 public:
  HttpSocket() = default;
  ~HttpSocket() { Close(); }
  HttpSocket(const HttpSocket&) = delete;
  HttpSocket& operator=(const HttpSocket&) = delete;

  // Resolves `host` (a bare name or address, no brackets), makes a non-blocking socket of its
  // family and starts connecting. kSocketDone, kSocketWouldBlock (in progress) or kSocketFailed.
  int32_t Connect(const char* host, uint16_t port);
  // One poll with the time-out: kSocketDone when connected, kSocketWouldBlock when not yet,
  // kSocketFailed when the connect failed.
  int32_t WaitWritable(uint32_t milliseconds);
  // One poll with the time-out for bytes to read (or the peer's close): kSocketDone when there
  // are, kSocketWouldBlock when not yet, kSocketFailed for a socket in error.
  int32_t WaitReadable(uint32_t milliseconds);
  // Move up to *count bytes; *count becomes what moved. Receive answers kSocketDone with 0
  // when the peer closed.
  int32_t Send(const void* data, uint32_t* count);
  int32_t Receive(void* data, uint32_t* count);
  void Close();
  bool IsOpen() const { return m_socket != kNoSocket; }

 private:
  // The system's socket: a descriptor, or a Winsock SOCKET (pointer-sized).
  static constexpr intptr_t kNoSocket = -1;
  intptr_t m_socket = kNoSocket;
};

void SleepMilliseconds(uint32_t milliseconds);

}  // namespace VexaHttp
