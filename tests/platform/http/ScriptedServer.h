// A small HTTP server for the engine's tests: it takes connections one at a time, reads each
// request header, records it, and answers what the test's script says for that request. A reply
// may leave the socket open without another byte, as a stalled server does.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/LoopbackServer.h"

namespace HttpTest {

struct Reply {
  std::string bytes;
  bool stall = false;  // keep the socket open, silent, until the client goes
};

class ScriptedServer : public TestSupport::LoopbackServer {
 public:
  // `script` gets the request header and its index among all requests.
  using Script = std::function<Reply(const std::string& request, int index)>;

  explicit ScriptedServer(Script script, const char* address = "127.0.0.1")
      : LoopbackServer(address), m_script(std::move(script)) {
    Start([this] { Serve(); });
  }
  ~ScriptedServer() { Stop(); }

  std::string Url(const std::string& path, const std::string& host = "127.0.0.1") const {
    return "http://" + host + ":" + std::to_string(Port()) + path;
  }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
  }

 private:
  void Serve() {
    for (int client; (client = Accept()) >= 0;) {
      std::string request;
      char chunk[4096];
      ssize_t got = 1;
      while (request.find("\r\n\r\n") == std::string::npos && got > 0 && Readable(client)) {
        got = ::recv(client, chunk, sizeof chunk, 0);
        if (got > 0) request.append(chunk, static_cast<size_t>(got));
      }
      if (got > 0 && !Stopping()) {
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
  std::mutex m_mutex;
  std::vector<std::string> m_requests;
};

}  // namespace HttpTest
