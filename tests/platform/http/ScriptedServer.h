// A small TCP server for the engine's tests: one thread on a loopback address takes
// connections one at a time, reads each request header, records it, and answers what the
// test's script says for that request. A reply may leave the socket open without another
// byte, as a stalled server does. Every wait is bounded by the stop flag.
#pragma once

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace HttpTest {

struct Reply {
  std::string bytes;
  bool stall = false;  // keep the socket open, silent, until the client goes
};

class ScriptedServer {
 public:
  // `script` gets the request header and its index among all requests.
  using Script = std::function<Reply(const std::string& request, int index)>;

  explicit ScriptedServer(Script script, const char* address = "127.0.0.1") : m_script(std::move(script)) {
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
      m_thread = std::thread([this] { Serve(); });
    }
    ::freeaddrinfo(found);
  }
  ~ScriptedServer() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    ::close(m_listener);
  }

  int Port() const { return m_port; }
  std::string Url(const std::string& path, const std::string& host = "127.0.0.1") const {
    return "http://" + host + ":" + std::to_string(m_port) + path;
  }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
  }

 private:
  bool Readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    while (!m_stop) {
      if (::poll(&entry, 1, 20) > 0) return true;
    }
    return false;
  }
  void Serve() {
    while (Readable(m_listener)) {
      int client = ::accept(m_listener, nullptr, nullptr);
      std::string request;
      char chunk[4096];
      ssize_t got = 1;
      while (request.find("\r\n\r\n") == std::string::npos && got > 0 && Readable(client)) {
        got = ::recv(client, chunk, sizeof chunk, 0);
        if (got > 0) request.append(chunk, static_cast<size_t>(got));
      }
      if (got > 0 && !m_stop) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_requests.push_back(request);
        int index = static_cast<int>(m_requests.size()) - 1;
        lock.unlock();
        Reply reply = m_script(request, index);
        ::send(client, reply.bytes.data(), reply.bytes.size(), MSG_NOSIGNAL);
        while (reply.stall && Readable(client) && ::recv(client, chunk, sizeof chunk, 0) > 0) {
        }
      }
      ::close(client);
    }
  }

  Script m_script;
  int m_listener = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::mutex m_mutex;
  std::vector<std::string> m_requests;
  std::thread m_thread;
};

}  // namespace HttpTest
