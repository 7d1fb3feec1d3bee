// Runs a function in a forked child; the parent waits for its exit status.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

class Child {
 public:
  explicit Child(const std::function<int()>& body) {
    pid_ = ::fork();
    if (pid_ == 0) ::_exit(body());
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  // The exit code, or 128 + signal.
  int Wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_;
  bool reaped_ = false;
};

// A one-way byte channel between parent and child.
class Signal {
 public:
  Signal() { (void)!::pipe(fds_); }
  ~Signal() {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  void Send() { (void)!::write(fds_[1], "x", 1); }
  int WriteEnd() const { return fds_[1]; }
  bool Receive() {
    char byte;
    return ::read(fds_[0], &byte, 1) == 1;
  }

 private:
  int fds_[2];
};

inline std::string UniqueName(const char* what) {
  static int counter = 0;
  return std::string("vexa-test-") + what + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}
