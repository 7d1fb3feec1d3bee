// A child process started from an argument vector (never through a shell), whose standard
// output and standard error come back through two pipes.
//
// One thread may read the pipes while another terminates the child: Terminate kills and reaps
// but leaves the descriptors open, so a reader never sees them closed or reused under it. They
// close when the object is destroyed, which the owner does once nobody reads any more.
//
// On Windows the arguments become one command line, quoted so that the C run-time and
// CommandLineToArgvW split it back into exactly these arguments; the pipes are anonymous pipes
// polled with short sleeps, and the child runs in a job object that Terminate ends whole.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/os/OsHandle.h"
#else
#include <sys/types.h>

#include "platform/os/FileDescriptor.h"
#endif

namespace VexaProcess {

#ifndef _WIN32
using VexaOS::CFileDescriptor;
#endif

enum ProcessStream : int32_t {
  kStandardOutput = 0,
  kStandardError = 1,
};

enum ReadResult : int32_t {
  kReadData = 0,     // bytes were read
  kReadNothing = 1,  // nothing is waiting now
  kReadEnd = 2,      // every writer has closed the pipe
  kReadFailed = -1,
};

// How a child has ended, as far as it is known.
enum ExitState : int32_t {
  kStillRunning = 0,
  kExitedCleanly = 1,  // it exited on its own with status 0
  kExitedFailing = 2,  // any other status, a signal, or killed by Terminate
};

struct ReadyStreams {
  bool output = false;  // bytes or the end are waiting on standard output
  bool error = false;   // the same for standard error
};

class CChildProcess {
 public:
  CChildProcess() = default;
  // Kills and reaps a child that still runs, then closes the pipes.
  ~CChildProcess();
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;

  // Runs the program arguments[0] with the given arguments (UTF-16, handed to the system as
  // UTF-8; on Windows as UTF-16), the caller's environment and working directory, standard
  // input from /dev/null (NUL). The child leads a process group of its own (on Windows: a job
  // object) so that Terminate also reaches what it starts. Answers false, with nothing left
  // running, when the program cannot be started or an argument has no UTF-8 form.
  bool Start(const std::vector<std::u16string>& arguments);

  // Waits up to timeoutMs (negative: without limit) for either stream to become readable.
  // Answers false when waiting itself failed.
  // Standard error is left out when watchError is false (once it has ended, say).
  bool WaitReadable(int timeoutMs, bool watchError, ReadyStreams& ready) const;
  // Reads what is waiting on one stream without blocking.
  ReadResult Read(ProcessStream stream, uint8_t* buffer, size_t capacity, size_t& count) const;

  // True once the child has ended (it is then reaped, with anything left in its group killed).
  bool HasExited();
  // Whether and how the child has ended; reaps it as HasExited does.
  ExitState GetExitState();
  // Kills the child's process group and reaps the child. Any thread, any number of times.
  void Terminate();
  bool WasTerminated() const { return m_terminated.load(); }

  // Whether path names an existing entry that is not a directory.
  static bool ProgramFileExists(const std::u16string& path);
  // The text as the system and the child see it (UTF-8). False for a lone surrogate, which
  // has no such form.
  static bool ToSystemText(const std::u16string& text, std::string& out);

 private:
  void ReapLocked(bool kill);

#ifdef _WIN32
  VexaOS::COsHandle m_output;  // the parent's ends of the pipes
  VexaOS::COsHandle m_error;
  std::mutex m_lock;           // guards m_process, m_job and m_reaped
  VexaOS::COsHandle m_process;
  VexaOS::COsHandle m_job;     // ends whatever the child started when closed or terminated
#else
  CFileDescriptor m_output;
  CFileDescriptor m_error;
  std::mutex m_lock;  // guards m_pid and m_reaped
  pid_t m_pid = -1;
#endif
  bool m_reaped = false;
  bool m_exitedCleanly = false;
  std::atomic<bool> m_terminated{false};
};

}  // namespace VexaProcess
