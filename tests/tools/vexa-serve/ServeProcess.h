// A vexa-serve started for one test on the loopback interface only (SSDP included), on a port
// the system picks, with its settings in the test's own folder. Stopped with SIGTERM when the
// object goes; every wait is bounded.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

class ServeProcess {
 public:
  // Starts vexa-serve on root; Url() is empty when it did not come up within 20 s.
  ServeProcess(const std::string& root, const std::string& settingsDir,
               const std::vector<std::string>& extra = {}) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(out[1], STDERR_FILENO);
      ::setenv("VEXA_SETTINGS_USER_ROOT", (settingsDir + "/user").c_str(), 1);
      ::setenv("VEXA_SETTINGS_MACHINE_ROOT", (settingsDir + "/machine").c_str(), 1);
      std::vector<std::string> args = {VEXA_SERVE, "--root", root, "--interface", "lo",
                                       "--port", "0"};
      args.insert(args.end(), extra.begin(), extra.end());
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    m_log = out[0];
    WaitForLine(" at http://", 20000);
    size_t at = m_text.find(" at http://");
    if (at != std::string::npos) {
      size_t start = at + 4, end = m_text.find('/', at + 11);
      if (end != std::string::npos) m_url = m_text.substr(start, end - start);
    }
  }
  ~ServeProcess() {
    Stop();
    if (m_log >= 0) ::close(m_log);
  }
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  // "http://127.0.0.1:PORT", without a trailing '/'.
  const std::string& Url() const { return m_url; }
  pid_t Pid() const { return m_pid; }

  // Everything the server wrote to standard error so far.
  const std::string& Log() {
    Drain(0);
    return m_text;
  }

  // Waits until text appears in the log; false after timeoutMs.
  bool WaitForLine(const std::string& text, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_text.find(text) == std::string::npos) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !Drain(static_cast<int>(left.count()))) return false;
    }
    return true;
  }

  // SIGTERM, then the exit code (or 128 + signal; -1 when it had to be killed after 10 s).
  int Stop() {
    if (m_pid <= 0) return m_exit;
    ::kill(m_pid, SIGTERM);
    for (int waited = 0; waited < 1000; ++waited) {
      int status = 0;
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = 0;
        m_exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        Drain(0);
        return m_exit;
      }
      ::usleep(10000);
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = 0;
    m_exit = -1;
    return m_exit;
  }

 private:
  // Appends what the log pipe holds, waiting up to timeoutMs for something; false at its end.
  bool Drain(int timeoutMs) {
    if (m_log < 0) return false;
    pollfd wait{m_log, POLLIN, 0};
    if (::poll(&wait, 1, timeoutMs) <= 0) return timeoutMs == 0;
    char buffer[4096];
    ssize_t got = ::read(m_log, buffer, sizeof buffer);
    if (got <= 0) return false;
    m_text.append(buffer, static_cast<size_t>(got));
    return true;
  }

  pid_t m_pid = -1;
  int m_log = -1;
  int m_exit = -1;
  std::string m_text;
  std::string m_url;
};
