// Runs a function in a forked child; the parent waits for its exit status.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

class Child {
 public:
  explicit Child(const std::function<int()>& body) : m_pid(::fork()) {
    if (m_pid == 0) ::_exit(body());
  }
  ~Child() {
    if (m_pid > 0 && !m_reaped) {
      ::kill(m_pid, SIGKILL);
      Wait();
    }
  }
  // The exit code, or 128 + signal.
  int Wait() {
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_reaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  pid_t pid() const { return m_pid; }

 private:
  pid_t m_pid;
  bool m_reaped = false;
};

// A one-way byte channel between parent and child.
class Signal {
 public:
  Signal() { (void)!::pipe(m_fds); }
  ~Signal() {
    ::close(m_fds[0]);
    ::close(m_fds[1]);
  }
  void Send() { (void)!::write(m_fds[1], "x", 1); }
  int WriteEnd() const { return m_fds[1]; }
  bool Receive() {
    char byte;
    return ::read(m_fds[0], &byte, 1) == 1;
  }

 private:
  int m_fds[2];
};

inline std::string UniqueName(const char* what) {
  static int counter = 0;
  return std::string("vexa-test-") + what + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}
