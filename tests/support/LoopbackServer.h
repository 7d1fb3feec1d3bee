// A listening socket on a loopback address and the one thread that serves it. Every wait is
// bounded by the stop flag, so the server notices the end of its test.
#pragma once

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

namespace TestSupport {

class LoopbackServer {
 public:
  // Binds a free port on `address`; Port() stays 0 when that fails.
  explicit LoopbackServer(const char* address = "127.0.0.1") {
    addrinfo hints{}, *found = nullptr;
    hints.ai_socktype = SOCK_STREAM;
    if (::getaddrinfo(address, "0", &hints, &found) != 0) return;
    m_listener = ::socket(found->ai_family, SOCK_STREAM, 0);
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    char port[8] = "";
    if (::bind(m_listener, found->ai_addr, found->ai_addrlen) == 0 && ::listen(m_listener, 8) == 0 &&
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&bound), &size) == 0 &&
        ::getnameinfo(reinterpret_cast<sockaddr*>(&bound), size, nullptr, 0, port, sizeof port, NI_NUMERICSERV) == 0) {
      m_port = std::stoi(port);
    }
    ::freeaddrinfo(found);
  }
  ~LoopbackServer() {
    Stop();
    ::close(m_listener);
  }

  int Port() const { return m_port; }

 protected:
  // A derived server calls Start last in its constructor and Stop first in its destructor, so
  // the thread never sees its members half made or half gone.
  void Start(std::function<void()> serve) {
    if (m_port != 0) m_thread = std::thread(std::move(serve));
  }
  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  bool Stopping() const { return m_stop; }

  // True once `fd` has bytes (or a connection) waiting; false when the test ends first.
  bool Readable(int fd) const {
    pollfd entry{fd, POLLIN, 0};
    while (!m_stop) {
      if (::poll(&entry, 1, 20) > 0) return true;
    }
    return false;
  }
  // The next connection, or -1 once the test ends.
  int Accept() const { return Readable(m_listener) ? ::accept(m_listener, nullptr, nullptr) : -1; }

 private:
  int m_listener = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace TestSupport
