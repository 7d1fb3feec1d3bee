#include "platform/process/ChildProcess.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "platform/os/win32/WindowsText.h"

namespace VexaProcess {

using VexaOS::COsHandle;

namespace {

// The exit code of a child that Terminate ended; anything but 0 reads as failing.
constexpr UINT kTerminatedExitCode = 1;
// Room in each pipe: an encoder writing a stream should rarely wait for the reader.
constexpr DWORD kPipeBytes = 64 * 1024;
// Anonymous pipes cannot be waited on: readiness is polled in steps this long.
constexpr DWORD kPollStepMs = 2;

// A lone surrogate has no UTF-8 form and a NUL would cut the argument short: either fails, as
// on the other systems, so that the same arguments work everywhere.
bool HasSystemForm(const std::u16string& text) {
  std::string utf8;
  return text.find(u'\0') == std::u16string::npos &&
         VexaOS::WideToUtf8(reinterpret_cast<const wchar_t*>(text.c_str()), utf8);
}

// Appends one argument so that the C run-time and CommandLineToArgvW read it back unchanged:
// quoted when empty or holding blanks or quotes; inside the quotes a quote is escaped by a
// backslash, and a run of backslashes is doubled where a quote follows it (an escaped one or
// the closing one), taken as it is elsewhere.
void AppendArgument(const std::u16string& argument, std::u16string& line) {
  if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string::npos) {
    line += argument;
    return;
  }
  line += u'"';
  size_t backslashes = 0;
  for (char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, u'\\');
  line += u'"';
}

// The program's own name is read up to the next quote with no escapes at all; Windows file
// names hold no quote, so it is quoted whole.
bool BuildCommandLine(const std::vector<std::u16string>& arguments, std::u16string& line) {
  if (arguments[0].empty() || arguments[0].find(u'"') != std::u16string::npos) return false;
  line = u"\"" + arguments[0] + u"\"";
  for (size_t i = 1; i < arguments.size(); ++i) {
    line += u' ';
    AppendArgument(arguments[i], line);
  }
  return true;
}

SECURITY_ATTRIBUTES Inheritable() {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.bInheritHandle = TRUE;
  return attributes;
}

// Only the child's end is inheritable; the parent's never blocks once a peek has said how
// much is waiting.
bool MakePipe(COsHandle& parentEnd, COsHandle& childEnd) {
  SECURITY_ATTRIBUTES attributes = Inheritable();
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!::CreatePipe(&read, &write, &attributes, kPipeBytes)) return false;
  parentEnd.reset(read);
  childEnd.reset(write);
  return ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0) != 0;
}

COsHandle OpenNullInput() {
  SECURITY_ATTRIBUTES attributes = Inheritable();
  HANDLE nul = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                             OPEN_EXISTING, 0, nullptr);
  return COsHandle(nul == INVALID_HANDLE_VALUE ? nullptr : nul);
}

// A job that kills every process in it when Terminate ends it or its last handle closes.
COsHandle MakeKillingJob() {
  COsHandle job(::CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job && !::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
    job.reset();
  return job;
}

// The start-up record naming the child's standard handles and, where the system takes the
// list, allowing it to inherit only those: another thread's child started at the same moment
// must not keep these pipes open.
class CStartup {
 public:
  CStartup(HANDLE input, HANDLE output, HANDLE error) : m_handles{input, output, error} {
    m_info.StartupInfo.cb = sizeof m_info;
    m_info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    m_info.StartupInfo.hStdInput = input;
    m_info.StartupInfo.hStdOutput = output;
    m_info.StartupInfo.hStdError = error;
    SIZE_T bytes = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &bytes);
    m_storage = std::make_unique<uint8_t[]>(bytes);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_storage.get());
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &bytes)) return;
    m_listMade = true;
    if (::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, m_handles, sizeof m_handles,
                                    nullptr, nullptr))
      m_info.lpAttributeList = list;
  }
  ~CStartup() {
    if (m_listMade) ::DeleteProcThreadAttributeList(reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_storage.get()));
  }
  CStartup(const CStartup&) = delete;
  CStartup& operator=(const CStartup&) = delete;

  STARTUPINFOW* Get() { return &m_info.StartupInfo; }
  DWORD Flags() const { return m_info.lpAttributeList ? EXTENDED_STARTUPINFO_PRESENT : 0; }

 private:
  HANDLE m_handles[3];
  STARTUPINFOEXW m_info{};
  std::unique_ptr<uint8_t[]> m_storage;
  bool m_listMade = false;
};

// Whether bytes or the end are waiting on a pipe; false when the pipe cannot be asked.
bool PeekPipe(HANDLE pipe, DWORD& waiting, bool& ended) {
  waiting = 0;
  ended = false;
  if (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) return true;
  ended = ::GetLastError() == ERROR_BROKEN_PIPE;  // every writer has closed it
  return ended;
}

}  // namespace

CChildProcess::~CChildProcess() { Terminate(); }

bool CChildProcess::Start(const std::vector<std::u16string>& arguments) {
  if (arguments.empty() || m_process) return false;
  if (!std::all_of(arguments.begin(), arguments.end(), HasSystemForm)) return false;
  std::u16string line;
  if (!BuildCommandLine(arguments, line)) return false;

  COsHandle outputChildEnd;
  COsHandle errorChildEnd;
  COsHandle input = OpenNullInput();
  if (!input || !MakePipe(m_output, outputChildEnd) || !MakePipe(m_error, errorChildEnd)) return false;
  COsHandle job = MakeKillingJob();
  CStartup startup(input.get(), outputChildEnd.get(), errorChildEnd.get());
  PROCESS_INFORMATION started{};
  // Suspended until it is in the job, so that nothing it starts escapes the job.
  if (!::CreateProcessW(reinterpret_cast<const wchar_t*>(arguments[0].c_str()), reinterpret_cast<wchar_t*>(line.data()),
                        nullptr, nullptr, TRUE, CREATE_SUSPENDED | CREATE_NO_WINDOW | startup.Flags(), nullptr,
                        nullptr, startup.Get(), &started))
    return false;
  COsHandle process(started.hProcess);
  COsHandle thread(started.hThread);
  // A system that refuses the job (an older one, inside a job of its own) still runs the
  // child: Terminate then ends the child alone.
  if (job && !::AssignProcessToJobObject(job.get(), process.get())) job.reset();
  ::ResumeThread(thread.get());
  std::lock_guard<std::mutex> hold(m_lock);
  m_process = std::move(process);
  m_job = std::move(job);
  m_reaped = false;
  // The child ends close here: the pipes report their end once the child and all it started
  // are gone.
  return true;
}

bool CChildProcess::WaitReadable(int timeoutMs, bool watchError, ReadyStreams& ready) const {
  ready = ReadyStreams{};
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    DWORD waiting = 0;
    bool ended = false;
    if (!m_output || !PeekPipe(m_output.get(), waiting, ended)) return false;
    ready.output = waiting > 0 || ended;
    if (watchError) {
      if (!m_error || !PeekPipe(m_error.get(), waiting, ended)) return false;
      ready.error = waiting > 0 || ended;
    }
    if (ready.output || ready.error) return true;
    const ULONGLONG waited = ::GetTickCount64() - start;
    if (timeoutMs >= 0 && waited >= static_cast<ULONGLONG>(timeoutMs)) return true;
    const DWORD left = timeoutMs < 0 ? kPollStepMs : static_cast<DWORD>(timeoutMs - waited);
    ::Sleep(std::min(kPollStepMs, left));
  }
}

ReadResult CChildProcess::Read(ProcessStream stream, uint8_t* buffer, size_t capacity,
                               size_t& count) const {
  count = 0;
  HANDLE pipe = stream == kStandardOutput ? m_output.get() : m_error.get();
  if (!pipe || !buffer) return kReadFailed;
  DWORD waiting = 0;
  bool ended = false;
  if (!PeekPipe(pipe, waiting, ended)) return kReadFailed;
  if (ended) return capacity == 0 ? kReadNothing : kReadEnd;
  if (waiting == 0 || capacity == 0) return kReadNothing;
  const DWORD wanted = static_cast<DWORD>(std::min<size_t>({capacity, waiting, MAXDWORD}));
  DWORD read = 0;
  if (!::ReadFile(pipe, buffer, wanted, &read, nullptr))
    return ::GetLastError() == ERROR_BROKEN_PIPE ? kReadEnd : kReadFailed;
  count = read;
  return read > 0 ? kReadData : kReadNothing;
}

bool CChildProcess::HasExited() {
  std::lock_guard<std::mutex> hold(m_lock);
  ReapLocked(false);
  return !m_process || m_reaped;
}

ExitState CChildProcess::GetExitState() {
  std::lock_guard<std::mutex> hold(m_lock);
  ReapLocked(false);
  if (m_process && !m_reaped) return kStillRunning;
  return m_exitedCleanly ? kExitedCleanly : kExitedFailing;
}

void CChildProcess::Terminate() {
  m_terminated = true;
  std::lock_guard<std::mutex> hold(m_lock);
  ReapLocked(true);
}

// The process handle stays open after the child ends, so its id is never reused under a kill;
// once the child has ended, whatever it left running in its job is ended too.
void CChildProcess::ReapLocked(bool kill) {
  if (!m_process || m_reaped) return;
  if (!kill && ::WaitForSingleObject(m_process.get(), 0) != WAIT_OBJECT_0) return;  // still running
  if (m_job) ::TerminateJobObject(m_job.get(), kTerminatedExitCode);
  if (kill) ::TerminateProcess(m_process.get(), kTerminatedExitCode);
  ::WaitForSingleObject(m_process.get(), INFINITE);
  DWORD code = kTerminatedExitCode;
  m_exitedCleanly = ::GetExitCodeProcess(m_process.get(), &code) && code == 0;
  m_reaped = true;
}

bool CChildProcess::ToSystemText(const std::u16string& text, std::string& out) {
  out.clear();
  return text.find(u'\0') == std::u16string::npos &&
         VexaOS::WideToUtf8(reinterpret_cast<const wchar_t*>(text.c_str()), out);
}

bool CChildProcess::ProgramFileExists(const std::u16string& path) {
  if (path.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str()));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace VexaProcess
