// A real nginx on 127.0.0.1, started for one test fixture from a configuration written into a
// temporary folder, and stopped (and waited for) when the object goes. It serves `root` and
// whatever extra `location` blocks the test gives (redirects, Basic authentication, ...).
#pragma once

#include <sys/types.h>

#include <string>

namespace NginxTest {

class NginxServer {
 public:
  // `locations` is pasted into the server block as it stands. Check Started() before use.
  NginxServer(const std::string& root, const std::string& locations = "");
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  bool Started() const { return m_port != 0; }
  int Port() const { return m_port; }
  // "http://127.0.0.1:PORT" + path
  std::string Url(const std::string& path) const;
  // What nginx logged, for failure messages.
  std::string ErrorLog() const;

 private:
  bool StartOn(int port, const std::string& root, const std::string& locations);

  std::string m_dir;
  int m_port = 0;
  pid_t m_pid = -1;
};

}  // namespace NginxTest
