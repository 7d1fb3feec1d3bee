// Temporary folders, stand-in programs, forked children and a look at which processes are left.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <process.h>
#include <stdlib.h>
#else
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "platform/files/TextConvert.h"

namespace ProcessTestTools {

// Paths from and to UTF-8 text, whatever the system's narrow code page is.
inline std::filesystem::path Utf8Path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string PathUtf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

#ifdef _WIN32
// std::filesystem converts here, so that tests of the layers below the text conversions need
// not link them.
inline std::u16string Wide(const std::string& utf8) { return Utf8Path(utf8).u16string(); }
#else
inline std::u16string Wide(const std::string& utf8) {
  std::u16string wide;
  EXPECT_TRUE(VexaFiles::Utf8ToUtf16String(utf8, wide)) << utf8;
  return wide;
}
#endif

// This process's environment (the C runtime's and the system's alike on Windows).
inline void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  ::_putenv_s(name, value);
#else
  ::setenv(name, value, 1);
#endif
}
inline void UnsetEnvironment(const char* name) {
#ifdef _WIN32
  ::_putenv_s(name, "");  // an empty value removes the variable there
#else
  ::unsetenv(name);
#endif
}

inline int ProcessId() {
#ifdef _WIN32
  return ::_getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

// A fresh folder under the build tree, absolute (on Windows with its drive); tag may hold
// spaces, quotes and non-ASCII.
inline std::string MakeTempDir(const std::string& tag) {
#ifdef _WIN32
  const std::filesystem::path base = std::filesystem::absolute(std::filesystem::path(VEXA_BINARY_DIR) / "testdata");
  std::error_code error;
  std::filesystem::create_directories(base, error);
  static int counter = 0;
  for (;;) {  // create_directory answers false for a name already taken
    const std::filesystem::path path =
        base / Utf8Path(tag + std::to_string(ProcessId()) + "-" + std::to_string(++counter));
    if (std::filesystem::create_directory(path, error)) return PathUtf8(path);
    if (error) {
      ADD_FAILURE() << PathUtf8(path) << ": " << error.message();
      return PathUtf8(path);
    }
  }
#else
  std::string base = std::string(VEXA_BINARY_DIR) + "/testdata";
  ::mkdir(base.c_str(), 0755);
  std::string pattern = base + "/" + tag + "XXXXXX";
  EXPECT_NE(::mkdtemp(pattern.data()), nullptr) << pattern;
  return pattern;
#endif
}

// A fresh folder removed with its contents afterwards.
class TempDir {
 public:
  explicit TempDir(const std::string& tag = "dir") : m_path(Utf8Path(MakeTempDir(tag))) {}
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  const std::filesystem::path& path() const { return m_path; }
  std::u16string Wide(const std::string& name) const { return ProcessTestTools::Wide(PathUtf8(m_path / Utf8Path(name))); }
  // Writes `bytes` as the file `name` in the folder; answers the file's wide name.
  std::u16string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(m_path / Utf8Path(name), std::ios::binary) << bytes;
    return Wide(name);
  }

 private:
  std::filesystem::path m_path;
};

// A fresh folder that the framework's trace (L1log.txt) goes to while this lives.
class TraceDir : public TempDir {
 public:
  explicit TraceDir(const std::string& tag) : TempDir(tag) { SetEnvironment("VEXA_L1LOG_DIR", PathUtf8(path()).c_str()); }
  ~TraceDir() { UnsetEnvironment("VEXA_L1LOG_DIR"); }
};

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

#ifndef _WIN32
inline std::string WriteScript(const std::string& dir, const std::string& name, const std::string& body) {
  std::string path = dir + "/" + name;
  std::ofstream(path) << "#!/bin/sh\n" << body;
  ::chmod(path.c_str(), 0755);
  return path;
}

#endif

// Polls until done() holds, for up to 30 s: a loaded machine is slow, only a hang fails.
inline bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

#ifndef _WIN32
// The resident size (KiB) of process `pid` (0: this one), -1 when /proc does not say.
inline long ResidentKiB(pid_t pid = 0) {
  std::ifstream status("/proc/" + (pid ? std::to_string(pid) : std::string("self")) + "/status");
  for (std::string key; status >> key;) {
    long value = 0;
    if (key == "VmRSS:" && status >> value) return value;
  }
  return -1;
}

// The process id a stand-in wrote into file.
inline pid_t ReadPid(const std::string& file) {
  pid_t pid = 0;
  WaitFor([&] { return static_cast<bool>(std::ifstream(file) >> pid); });
  return pid;
}

// Running (not zombie) processes of the group pgid.
inline int LiveGroupMembers(pid_t pgid) {
  int live = 0;
  DIR* proc = ::opendir("/proc");
  while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
    std::string line;
    std::getline(std::ifstream(std::string("/proc/") + entry->d_name + "/stat"), line);
    size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(line.substr(close + 2));
    char state = 0;
    pid_t parent = 0, group = 0;
    fields >> state >> parent >> group;
    if (group == pgid && state != 'Z' && state != 'X') ++live;
  }
  if (proc) ::closedir(proc);
  return live;
}

// The child has been reaped and nothing of its group runs any more (a killed grandchild dies
// asynchronously).
inline void ExpectNoneLeft(pid_t pid) {
  ASSERT_GT(pid, 0);
  struct stat info {};
  EXPECT_NE(::stat(("/proc/" + std::to_string(pid)).c_str(), &info), 0) << pid << " not reaped";
  EXPECT_TRUE(WaitFor([&] { return LiveGroupMembers(pid) == 0; })) << "processes of group " << pid << " still run";
}

// Runs a function in a forked child; the parent waits for its exit status.
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

#endif  // processes and pipes of POSIX systems

inline std::string UniqueName(const char* what) {
  static int counter = 0;
  return std::string("vexa-test-") + what + "-" + std::to_string(ProcessId()) + "-" + std::to_string(++counter);
}

}  // namespace ProcessTestTools
