// A vexa-serve started for one test on the loopback interface only (SSDP included), on a port
// the system picks, with its settings and its log (standard error) in the test's own folder;
// stopped with SIGTERM when the object goes. And a raw TCP client of a server on a loopback
// address. Every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/MuxFixture.h"
#include "tests/support/ProcessTestTools.h"
#include "tools/hostkit/HostObjects.h"

class ServeProcess {
 public:
  // Starts vexa-serve on root; Url() is empty when it did not come up within 30 s.
  ServeProcess(const std::string& root, const std::string& settingsDir, const std::vector<std::string>& extra = {})
      : m_logPath(EmptyLog(settingsDir)), m_child([&] { return Exec(root, settingsDir, extra); }) {
    const std::string kAt = " at http://";
    if (!ProcessTestTools::WaitFor([&] { return Log().find(kAt) != std::string::npos; })) return;
    const std::string log = Log();
    size_t start = log.find(kAt) + 4;
    m_url = log.substr(start, log.find('/', start + 7) - start);
  }
  ~ServeProcess() { Stop(); }
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  // "http://127.0.0.1:PORT", without a trailing '/'.
  const std::string& Url() const { return m_url; }
  uint16_t Port() const { return m_url.empty() ? 0 : std::stoi(m_url.substr(m_url.rfind(':') + 1)); }
  pid_t Pid() const { return m_child.pid(); }
  // Everything the server wrote to standard error so far.
  std::string Log() const { return ProcessTestTools::ReadText(m_logPath); }
  // The device's "uuid:..." as the server announced it; empty before.
  std::string Udn() const {
    const std::string log = Log();
    size_t at = log.find("(uuid:");
    return at == std::string::npos ? "" : log.substr(at + 1, 41);
  }

  // Runs a shell command in which $URL is Url() and $UA a PlayStation 3's User-Agent; what it
  // printed.
  std::string Shell(const std::string& command) const {
    return RunShell(std::string("UA='") + kPs3UserAgent + "' URL='" + m_url + "'; " + command).output;
  }

  // SIGTERM, then the exit code (128 + signal; 137 when it had to be killed after 30 s).
  int Stop() {
    if (m_exit >= 0 || Pid() <= 0) return m_exit;
    ::kill(Pid(), SIGTERM);
    siginfo_t info{};
    if (!ProcessTestTools::WaitFor([&] {  // looks without reaping: the child object reaps
          return ::waitid(P_PID, Pid(), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == Pid();
        }))
      ::kill(Pid(), SIGKILL);
    m_exit = m_child.Wait();
    return m_exit;
  }

 private:
  // Made before the server starts, so that a restarted server's log never shows the last one's.
  static std::string EmptyLog(const std::string& settingsDir) {
    std::filesystem::create_directories(settingsDir);
    std::ofstream(settingsDir + "/serve.log", std::ios::trunc);
    return settingsDir + "/serve.log";
  }
  // In the child: standard error into the log, the settings in settingsDir, then the server.
  int Exec(const std::string& root, const std::string& settingsDir, const std::vector<std::string>& extra) {
    ::dup2(::open(m_logPath.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC), STDERR_FILENO);
    ::setenv("VEXA_SETTINGS_USER_ROOT", (settingsDir + "/user").c_str(), 1);
    ::setenv("VEXA_SETTINGS_MACHINE_ROOT", (settingsDir + "/machine").c_str(), 1);
    std::vector<std::string> args = {VEXA_SERVE, "--root", root, "--interface", "lo", "--port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    return 127;
  }

  std::string m_logPath;
  ProcessTestTools::Child m_child;
  std::string m_url;
  int m_exit = -1;
};

// A raw TCP client of a listener at a loopback address: sends what it is given, reads what comes
// back.
class RawClient {
 public:
  explicit RawClient(uint16_t port, const char* to = "127.0.0.1") : m_socket(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{AF_INET, htons(port), {}, {}};
    ::inet_pton(AF_INET, to, &address.sin_addr);
    ::connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  ~RawClient() { ::close(m_socket); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Closed() const { return m_closed; }
  void Send(const std::string& text) { ::send(m_socket, text.data(), text.size(), MSG_NOSIGNAL); }
  // Reads a byte at a time until `end` has come (never when empty) or the server closes (Closed()
  // then true); gives up after 20 s of silence.
  std::string Read(const std::string& end = "") {
    std::string got;
    char byte;
    pollfd wait{m_socket, POLLIN, 0};
    while ((end.empty() || got.find(end) == std::string::npos) && ::poll(&wait, 1, 20000) > 0) {
      m_closed = ::recv(m_socket, &byte, 1, 0) != 1;
      if (m_closed) break;
      got += byte;
    }
    return got;
  }

 private:
  int m_socket;
  bool m_closed = false;
};
