// A small TCP server for the engine's tests: one thread on a loopback address takes
// connections one at a time, reads each request header, records it, and answers what the
// test's script says for that request. A reply may leave the socket open without another
// byte, as a stalled server does. Every wait is bounded by the stop flag.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
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
  bool stall = false;  // keep the socket open, silent, until the test ends
};

class ScriptedServer {
 public:
  // `script` gets the request header and its index among all requests.
  using Script = std::function<Reply(const std::string& request, int index)>;

  explicit ScriptedServer(Script script, bool ipv6 = false) : m_script(std::move(script)) {
    m_listener = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    sockaddr_storage address{};
    socklen_t size = ipv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (ipv6) {
      auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
      in6->sin6_family = AF_INET6;
      in6->sin6_addr = in6addr_loopback;
    } else {
      auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
      in4->sin_family = AF_INET;
      in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    if (::bind(m_listener, generic, size) != 0 || ::listen(m_listener, 8) != 0 ||
        ::getsockname(m_listener, generic, &size) != 0) {
      return;
    }
    m_port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                        : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    m_thread = std::thread([this] { Serve(); });
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
      if (client < 0) continue;
      Answer(client);
      ::close(client);
    }
  }
  void Answer(int client) {
    std::string request;
    char chunk[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      if (!Readable(client)) return;
      ssize_t got = ::recv(client, chunk, sizeof chunk, 0);
      if (got <= 0) return;
      request.append(chunk, static_cast<size_t>(got));
    }
    int index;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_requests.push_back(request);
      index = static_cast<int>(m_requests.size()) - 1;
    }
    Reply reply = m_script(request, index);
    ::send(client, reply.bytes.data(), reply.bytes.size(), MSG_NOSIGNAL);
    while (reply.stall && Readable(client) && ::recv(client, chunk, sizeof chunk, 0) > 0) {
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
