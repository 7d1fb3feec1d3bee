#include "jobs/TranscodeJobASF.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <new>
#include <thread>

#include "platform/process/ChildProcess.h"
#include "platform/settings/VexaSettings.h"

namespace {

constexpr char kAsfMime[] = "video/x-ms-asf";
constexpr char kAsfDlnaProfile[] = "DLNA.ORG_PN=WMVMED_PRO";
constexpr int kPollStepMs = 10;
constexpr size_t kErrorDrainLimit = 256 * 1024;  // per Read, so a flood cannot starve output
// The input's duration line, which opens a line of the banner (a metadata line that merely
// holds the words is indented further and led by its key).
constexpr std::string_view kDurationLabel = "\n  Duration: ";
// The duration line is read once this many bytes follow its label ("00:00:00.00, s").
constexpr size_t kDurationFieldBytes = 14;
constexpr size_t kChunkBytes = 4096;
constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kMsPerMinute = 60 * kMsPerSecond;
constexpr int64_t kMsPerHour = 60 * kMsPerMinute;

// The encoder the user configured: the media server's setting FFmpegPath, as a wide path.
std::u16string ReadEncoderSetting() {
  std::string value;
  if (!veds::ReadSettingString(u"VexaMediaServer", u"FFmpegPath", value)) return {};
  return veds::SettingsWide(value.c_str());
}

std::u16string Digits(int64_t value, int width) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value > 0);
  while (static_cast<int>(digits.size()) < width) digits.insert(digits.begin(), u'0');
  return digits;
}

bool ReadNumber(std::string_view text, size_t& at, size_t minDigits, size_t maxDigits,
                int64_t& value, size_t* digitsRead = nullptr) {
  size_t start = at;
  value = 0;
  while (at < text.size() && at - start < maxDigits && text[at] >= '0' && text[at] <= '9')
    value = value * 10 + (text[at++] - '0');
  if (digitsRead) *digitsRead = at - start;
  return at - start >= minDigits;
}

}  // namespace

struct CTranscodeJobASF::EncoderRun {
  VexaProcess::CChildProcess process;
  bool errorClosed = false;
};

CTranscodeJobASF::CTranscodeJobASF(NS::ITranscoderJobCallbacks* owner)
    : CBaseTranscoderJob(owner, kAsfMime, kAsfDlnaProfile) {}

CTranscodeJobASF::~CTranscodeJobASF() { Stop(); }

int64_t CTranscodeJobASF::GetTimestamp() { return static_cast<int64_t>(std::time(nullptr)); }

NS::ITranscoderJob* CTranscodeJobASF::MakeJob(NS::ITranscoderJobCallbacks* owner) {
  return new (std::nothrow) CTranscodeJobASF(owner);
}

bool CTranscodeJobASF::IsAvailable() {
  return VexaProcess::CChildProcess::ProgramFileExists(ReadEncoderSetting());
}

std::u16string CTranscodeJobASF::FindEncoder() {
  std::u16string encoder = ReadEncoderSetting();
  if (VexaProcess::CChildProcess::ProgramFileExists(encoder)) return encoder;
  NS::ITranscoderJobCallbacks* owner = Owner();
  if (!owner || owner->ForwardRequest(this, kRequestEncoderMissing) != kRequestEncoderMissing)
    return {};
  encoder = ReadEncoderSetting();
  return VexaProcess::CChildProcess::ProgramFileExists(encoder) ? encoder : std::u16string();
}

int32_t CTranscodeJobASF::CheckSource(const char16_t* path, const char* mime) {
  if (!path) return kJobMissingArgument;
  if (!IsAvailable()) return kJobUnsupportedType;
  return CheckMatroskaSource(path, mime);
}

int32_t CTranscodeJobASF::Open(NS::IJobListener* listener, const char16_t* path,
                               const char* mime) {
  if (!path) return kJobFailed;
  Stop();
  m_listener = listener;
  // A reused job must not report the previous source's duration.
  m_duration = -1;
  if (!StoreSourcePath(path)) return kJobFailed;
  return CheckSource(GetSourcePath(), mime);
}

int32_t CTranscodeJobASF::Start(int64_t fromMs, int64_t) {
  return StartEncoder(fromMs) ? kJobOk : kJobFailed;
}

bool CTranscodeJobASF::Seek(int64_t ms) { return StartEncoder(ms); }

int32_t CTranscodeJobASF::Stop() {
  std::shared_ptr<EncoderRun> running;
  std::shared_ptr<EncoderRun> starting;
  {
    std::lock_guard<std::mutex> hold(m_runLock);
    ++m_generation;
    running.swap(m_running);
    starting.swap(m_starting);
  }
  // Killing wakes a reader inside Read and a start inside its banner phase; both let go of
  // the run, and its pipes close, when they return.
  if (running) running->process.Terminate();
  if (starting) starting->process.Terminate();
  return kJobOk;
}

// Out of memory yields no run rather than an exception across the host's call.
std::shared_ptr<CTranscodeJobASF::EncoderRun> CTranscodeJobASF::NewRun() {
  try {
    return std::make_shared<EncoderRun>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::shared_ptr<CTranscodeJobASF::EncoderRun> CTranscodeJobASF::CurrentRun() {
  std::lock_guard<std::mutex> hold(m_runLock);
  return m_running;
}

bool CTranscodeJobASF::StartEncoder(int64_t startMs) {
  Stop();
  uint64_t generation;
  {
    std::lock_guard<std::mutex> hold(m_runLock);
    generation = m_generation;
  }
  const char16_t* source = GetSourcePath();
  if (!source) return false;
  std::u16string encoder = FindEncoder();
  if (encoder.empty()) return false;
  std::shared_ptr<EncoderRun> run = NewRun();
  if (!run || !run->process.Start(BuildArguments(encoder, source, startMs))) return false;
  {
    std::lock_guard<std::mutex> hold(m_runLock);
    if (generation != m_generation) return false;  // stopped meanwhile; the run dies here
    m_starting = run;
  }
  int64_t duration = -1;
  bool bannerOk = ReadBanner(*run, duration);
  {
    std::lock_guard<std::mutex> hold(m_runLock);
    bool current = generation == m_generation;
    if (current) m_starting.reset();
    if (current && bannerOk) {
      m_running = run;
      if (duration >= 0) m_duration = duration;
      return true;
    }
  }
  // A failed start leaves no encoder behind.
  run->process.Terminate();
  return false;
}

// An encoder that ends before its banner names the input's duration (it could not open the
// source, say) has nothing to stream.
bool CTranscodeJobASF::ReadBanner(EncoderRun& run, int64_t& durationMs) {
  std::string text;
  char chunk[kChunkBytes];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBannerTimeoutMs);
  for (;;) {
    if (run.process.WasTerminated() || std::chrono::steady_clock::now() > deadline) return false;
    VexaProcess::ReadyStreams ready;
    if (!run.process.WaitReadable(kPollStepMs * 5, true, ready)) return false;
    if (!ready.error) continue;
    size_t count = 0;
    size_t room = std::min(sizeof chunk, kBannerLimit - text.size());
    VexaProcess::ReadResult result = run.process.Read(
        VexaProcess::kStandardError, reinterpret_cast<uint8_t*>(chunk), room, count);
    if (result == VexaProcess::kReadFailed) return false;
    text.append(chunk, count);
    bool complete = result == VexaProcess::kReadEnd || text.size() >= kBannerLimit;
    if (InspectBanner(text, complete, durationMs) == BannerVerdict::kDuration) return true;
    if (result == VexaProcess::kReadEnd) return false;
    if (text.size() >= kBannerLimit) return true;
  }
}

CTranscodeJobASF::BannerVerdict CTranscodeJobASF::InspectBanner(std::string_view text,
                                                               bool complete,
                                                               int64_t& durationMs) {
  size_t label = text.find(kDurationLabel);
  if (label == std::string_view::npos) return BannerVerdict::kReadOn;
  std::string_view field = text.substr(label + kDurationLabel.size());
  if (field.size() < kDurationFieldBytes && !complete) return BannerVerdict::kReadOn;
  if (!ParseDuration(field, durationMs)) durationMs = -1;
  return BannerVerdict::kDuration;
}

bool CTranscodeJobASF::ParseDuration(std::string_view text, int64_t& durationMs) {
  size_t at = 0;
  int64_t hours, minutes, seconds, fraction = 0;
  if (!ReadNumber(text, at, 1, 9, hours) || at >= text.size() || text[at++] != ':' ||
      !ReadNumber(text, at, 2, 2, minutes) || at >= text.size() || text[at++] != ':' ||
      !ReadNumber(text, at, 2, 2, seconds) || minutes > 59 || seconds > 59)
    return false;
  if (at < text.size() && text[at] == '.') {
    ++at;
    size_t digits = 0;
    // Only milliseconds matter: "45" is 450 ms, "4567" 456 ms.
    if (!ReadNumber(text, at, 1, 3, fraction, &digits)) return false;
    for (; digits < 3; ++digits) fraction *= 10;
  }
  durationMs = hours * kMsPerHour + minutes * kMsPerMinute + seconds * kMsPerSecond + fraction;
  return true;
}

std::u16string CTranscodeJobASF::FormatOffset(int64_t startMs) {
  // The encoder cannot start before the beginning.
  if (startMs < 0) startMs = 0;
  return Digits(startMs / kMsPerHour, 2) + u":" + Digits(startMs % kMsPerHour / kMsPerMinute, 2) +
         u":" + Digits(startMs % kMsPerMinute / kMsPerSecond, 2) + u"." +
         Digits(startMs % kMsPerSecond, 3);
}

std::vector<std::u16string> CTranscodeJobASF::BuildArguments(const std::u16string& encoder,
                                                             const std::u16string& source,
                                                             int64_t startMs) {
  return {encoder, u"-ss",    FormatOffset(startMs), u"-i",   source, u"-vcodec", u"wmv2",
          u"-s",   u"640x360", u"-q:v",              u"5",    u"-acodec", u"wmav2", u"-ac",
          u"2",    u"-f",     u"asf",                u"-"};
}

bool CTranscodeJobASF::Read(uint8_t* buffer, uint32_t size, uint32_t* count) {
  if (count) *count = 0;
  if (!buffer || !count || size == 0) return false;
  std::shared_ptr<EncoderRun> run = CurrentRun();
  if (!run) return false;
  size_t n = 0;
  RelayResult result = RelayOutput(*run, buffer, size, n);
  *count = static_cast<uint32_t>(n);
  if (result == RelayResult::kRelayed) return true;
  // Once the stream has ended nobody reads the encoder any more: it goes at once rather than
  // lingering until the job is stopped, and a later Read finds it stopped.
  run->process.Terminate();
  NS::IJobListener* listener = m_listener;
  if (result == RelayResult::kStreamFailed && listener)
    listener->OnJobEvent(this, kJobEventFailed, 0, 0);
  return false;
}

// Waits in short steps for output, draining standard error meanwhile.
CTranscodeJobASF::RelayResult CTranscodeJobASF::RelayOutput(EncoderRun& run, uint8_t* buffer,
                                                            uint32_t size, size_t& count) {
  for (;;) {
    if (run.process.WasTerminated()) return RelayResult::kStopped;
    VexaProcess::ReadyStreams ready;
    if (!run.process.WaitReadable(kPollStepMs, !run.errorClosed, ready))
      return RelayResult::kStreamFailed;
    if (ready.error) DrainErrors(run);
    if (ready.output) {
      VexaProcess::ReadResult result =
          run.process.Read(VexaProcess::kStandardOutput, buffer, size, count);
      if (result == VexaProcess::kReadData) return RelayResult::kRelayed;
      if (result == VexaProcess::kReadEnd) return JudgeEnd(run);
      if (result == VexaProcess::kReadFailed) return RelayResult::kStreamFailed;
    } else if (!ready.error && run.process.HasExited()) {
      return JudgeEnd(run);
    }
  }
}

CTranscodeJobASF::RelayResult CTranscodeJobASF::JudgeEnd(EncoderRun& run) {
  for (int waited = 0; waited < kExitWaitMs; waited += kPollStepMs) {
    if (run.process.WasTerminated()) return RelayResult::kStopped;
    VexaProcess::ExitState state = run.process.GetExitState();
    if (state != VexaProcess::kStillRunning)
      return state == VexaProcess::kExitedCleanly ? RelayResult::kStreamEnded
                                                  : RelayResult::kStreamFailed;
    VexaProcess::ReadyStreams ready;
    if (!run.errorClosed && run.process.WaitReadable(kPollStepMs, true, ready) && ready.error)
      DrainErrors(run);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
  }
  return RelayResult::kStreamFailed;  // its output is closed, yet it does not end
}

// Reads what standard error holds, so that the encoder never blocks on a full pipe.
void CTranscodeJobASF::DrainErrors(EncoderRun& run) {
  char chunk[kChunkBytes];
  for (size_t drained = 0; drained < kErrorDrainLimit;) {
    size_t count = 0;
    VexaProcess::ReadResult result = run.process.Read(
        VexaProcess::kStandardError, reinterpret_cast<uint8_t*>(chunk), sizeof chunk, count);
    if (result == VexaProcess::kReadEnd || result == VexaProcess::kReadFailed) {
      run.errorClosed = true;
      return;
    }
    if (result == VexaProcess::kReadNothing) return;
    drained += count;
  }
}
