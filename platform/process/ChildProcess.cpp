#include "platform/process/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/files/TextConvert.h"

extern char** environ;

namespace VexaProcess {

namespace {

// A lone surrogate has no UTF-8 form, and a NUL would cut the argument short: either fails.
bool ToUtf8(const std::u16string& in, std::string& out) {
  return VexaFiles::Utf16ToUtf8String(in, out) && out.find('\0') == std::string::npos;
}

// Both ends close on exec, so no other child started meanwhile inherits them; the parent's end
// never blocks, so a read cannot hang once the caller has been told the pipe is readable.
bool MakePipe(CFileDescriptor& parentEnd, CFileDescriptor& childEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  parentEnd = CFileDescriptor(fds[0]);
  childEnd = CFileDescriptor(fds[1]);
  return ::fcntl(fds[0], F_SETFL, O_NONBLOCK) == 0;
}

class CSpawnActions {
 public:
  CSpawnActions() { m_ok = posix_spawn_file_actions_init(&m_actions) == 0; }
  ~CSpawnActions() {
    if (m_ok) posix_spawn_file_actions_destroy(&m_actions);
  }
  CSpawnActions(const CSpawnActions&) = delete;
  CSpawnActions& operator=(const CSpawnActions&) = delete;

  bool Redirect(int outputFd, int errorFd) {
    return m_ok && posix_spawn_file_actions_addopen(&m_actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
           posix_spawn_file_actions_adddup2(&m_actions, outputFd, 1) == 0 &&
           posix_spawn_file_actions_adddup2(&m_actions, errorFd, 2) == 0;
  }
  const posix_spawn_file_actions_t* Get() const { return &m_actions; }

 private:
  posix_spawn_file_actions_t m_actions;
  bool m_ok = false;
};

class CSpawnAttributes {
 public:
  CSpawnAttributes() { m_ok = posix_spawnattr_init(&m_attributes) == 0; }
  ~CSpawnAttributes() {
    if (m_ok) posix_spawnattr_destroy(&m_attributes);
  }
  CSpawnAttributes(const CSpawnAttributes&) = delete;
  CSpawnAttributes& operator=(const CSpawnAttributes&) = delete;

  // A group of its own, no blocked signals, and default handling of the signals a server
  // commonly ignores (a child that ignored SIGPIPE would not end when its reader goes).
  bool Prepare() {
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD}) sigaddset(&defaults, signal);
    short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    return m_ok && posix_spawnattr_setflags(&m_attributes, flags) == 0 &&
           posix_spawnattr_setpgroup(&m_attributes, 0) == 0 &&
           posix_spawnattr_setsigmask(&m_attributes, &none) == 0 &&
           posix_spawnattr_setsigdefault(&m_attributes, &defaults) == 0;
  }
  const posix_spawnattr_t* Get() const { return &m_attributes; }

 private:
  posix_spawnattr_t m_attributes;
  bool m_ok = false;
};

}  // namespace

CChildProcess::~CChildProcess() { Terminate(); }

bool CChildProcess::Start(const std::vector<std::u16string>& arguments) {
  if (arguments.empty() || m_pid > 0) return false;
  std::vector<std::string> narrow(arguments.size());
  for (size_t i = 0; i < arguments.size(); ++i)
    if (!ToUtf8(arguments[i], narrow[i])) return false;
  std::vector<char*> argv;
  for (std::string& argument : narrow) argv.push_back(argument.data());
  argv.push_back(nullptr);

  CFileDescriptor outputChildEnd;
  CFileDescriptor errorChildEnd;
  if (!MakePipe(m_output, outputChildEnd) || !MakePipe(m_error, errorChildEnd)) return false;
  CSpawnActions actions;
  CSpawnAttributes attributes;
  if (!actions.Redirect(outputChildEnd.Get(), errorChildEnd.Get()) || !attributes.Prepare())
    return false;

  pid_t pid = -1;
  // glibc reports a failed exec here and reaps that child itself.
  if (posix_spawn(&pid, argv[0], actions.Get(), attributes.Get(), argv.data(), environ) != 0)
    return false;
  std::lock_guard<std::mutex> hold(m_lock);
  m_pid = pid;
  m_reaped = false;
  // The child ends close here: the pipes report their end once the child's group is gone.
  return true;
}

bool CChildProcess::WaitReadable(int timeoutMs, bool watchError, ReadyStreams& ready) const {
  ready = ReadyStreams{};
  // poll skips negative descriptors.
  pollfd fds[2] = {{m_output.Get(), POLLIN, 0}, {watchError ? m_error.Get() : -1, POLLIN, 0}};
  int result = ::poll(fds, 2, timeoutMs);
  if (result < 0) return errno == EINTR;
  ready.output = (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  ready.error = (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  return (fds[0].revents & POLLNVAL) == 0 && (fds[1].revents & POLLNVAL) == 0;
}

ReadResult CChildProcess::Read(ProcessStream stream, uint8_t* buffer, size_t capacity,
                               size_t& count) const {
  count = 0;
  int fd = stream == kStandardOutput ? m_output.Get() : m_error.Get();
  if (fd < 0 || !buffer) return kReadFailed;
  for (;;) {
    ssize_t n = ::read(fd, buffer, capacity);
    if (n > 0) {
      count = static_cast<size_t>(n);
      return kReadData;
    }
    if (n == 0) return capacity == 0 ? kReadNothing : kReadEnd;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kReadNothing;
    if (errno != EINTR) return kReadFailed;
  }
}

bool CChildProcess::HasExited() {
  std::lock_guard<std::mutex> hold(m_lock);
  ReapLocked(false);
  return m_pid <= 0 || m_reaped;
}

ExitState CChildProcess::GetExitState() {
  std::lock_guard<std::mutex> hold(m_lock);
  ReapLocked(false);
  if (m_pid > 0 && !m_reaped) return kStillRunning;
  return m_exitedCleanly ? kExitedCleanly : kExitedFailing;
}

void CChildProcess::Terminate() {
  m_terminated = true;
  std::lock_guard<std::mutex> hold(m_lock);
  ReapLocked(true);
}

// The child is only looked at, not reaped, until its group has been killed: while it is
// unreaped its process id cannot be handed to anybody else, so the group kill never reaches a
// stranger.
void CChildProcess::ReapLocked(bool kill) {
  if (m_pid <= 0 || m_reaped) return;
  siginfo_t info{};
  int looked;
  while ((looked = ::waitid(P_PID, static_cast<id_t>(m_pid), &info,
                            WEXITED | WNOHANG | WNOWAIT)) < 0 && errno == EINTR) {
  }
  if (looked < 0) {  // not our child any more (somebody else reaped it): never signal that id
    m_reaped = true;
    return;
  }
  if (!kill && info.si_pid == 0) return;  // still running
  ::kill(-m_pid, SIGKILL);
  int status = 0;
  while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
  }
  m_reaped = true;
  m_exitedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool CChildProcess::ToSystemText(const std::u16string& text, std::string& out) {
  return ToUtf8(text, out);
}

bool CChildProcess::ProgramFileExists(const std::u16string& path) {
  std::string narrow;
  struct stat info {};
  return !path.empty() && ToUtf8(path, narrow) && ::stat(narrow.c_str(), &info) == 0 &&
         !S_ISDIR(info.st_mode);
}

}  // namespace VexaProcess
