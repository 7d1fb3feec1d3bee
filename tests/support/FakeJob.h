// Test-only job kinds that the transcoder object can be driven with.
#pragma once

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <string>
#include <string_view>

#include "jobs/BaseTranscoderJob.h"
#include "plugin/ClientProfiles.h"
#include "plugin/TranscoderImpl.h"

inline constexpr char kFakeTsMime[] = "video/MP2T";
inline constexpr char kFakeTsProfile[] = "MPEG_PS_NTSC;DLNA.ORG_OP=10;DLNA.ORG_CI=1;DLNA.ORG_FLAGS=01500000000000000000000000000000";

struct FakeJobStats {
  std::atomic<int> created{0};
  std::atomic<int> destroyed{0};
  std::atomic<int> opens{0};
  std::atomic<bool> available{true};
  std::atomic<int64_t> duration{-1};
  std::atomic<int> openDelayMs{0};
  // While set, checking a source named "slow.mkv" waits: a file whose opening blocks.
  std::atomic<bool> slowSourceBlocks{false};
};

// A job that serves Matroska sources and streams a fixed number of bytes.
class FakeJob : public CBaseTranscoderJob {
 public:
  FakeJob(NS::ITranscoderJobCallbacks* owner, bool asf, FakeJobStats* stats)
      : CBaseTranscoderJob(owner, asf ? kAsfMimeType : kFakeTsMime, asf ? "DLNA.ORG_PN=WMVMED_PRO" : kFakeTsProfile),
        m_asf(asf), m_stats(stats) {
    ++m_stats->created;
  }
  ~FakeJob() override { ++m_stats->destroyed; }

  bool Seek(int64_t) override { return true; }
  bool QueryFlag(uint32_t) override { return false; }
  int64_t GetDuration() override { return m_asf ? -1 : m_stats->duration.load(); }
  bool Read(uint8_t* buffer, uint32_t size, uint32_t* count) override {
    if (!buffer || !count) return false;
    uint32_t n = std::min<uint32_t>(size, m_remaining.load());
    std::memset(buffer, 0x47, n);
    m_remaining -= n;
    *count = n;
    return n > 0;
  }
  bool IsValid() override { return true; }
  int64_t GetTimestamp() override { return 0; }
  int32_t QueryValue(uint32_t) override { return 0; }
  int32_t Start(int64_t, int64_t) override {
    m_remaining = 4096;
    return 0;
  }
  int32_t Stop() override {
    m_remaining = 0;
    return 0;
  }
  int32_t TogglePause() override { return 0; }
  int32_t Open(NS::IJobListener* listener, const char16_t* path, const char* mime) override {
    if (!path) return kJobFailed;
    ++m_stats->opens;
    Stop();
    m_listener = listener;
    std::this_thread::sleep_for(std::chrono::milliseconds(m_stats->openDelayMs));
    if (!StoreSourcePath(path)) return kJobFailed;
    return CheckSource(GetSourcePath(), mime);
  }
  int32_t CheckSource(const char16_t* path, const char* mime) override {
    if (!path) return kJobMissingArgument;
    if (m_asf && !IsAvailable()) return kJobUnsupportedType;
    if (std::u16string_view(path).ends_with(u"slow.mkv"))
      while (m_stats->slowSourceBlocks) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return CheckMatroskaName(path, mime);  // its sources are imaginary: no file is looked at
  }
  NS::ITranscoderJob* MakeJob(NS::ITranscoderJobCallbacks* owner) override {
    return new FakeJob(owner, m_asf, m_stats);
  }
  int64_t GetTranscodedDuration() override { return GetDuration(); }
  bool IsAvailable() override { return !m_asf || m_stats->available; }
  // What the job's stream would report to the listener it was opened with.
  void Report(int32_t event) {
    if (m_listener) m_listener->OnJobEvent(this, event, 0, 0);
  }

 private:
  NS::IJobListener* m_listener = nullptr;
  bool m_asf;
  FakeJobStats* m_stats;
  std::atomic<uint32_t> m_remaining{0};
};

// A transcoder whose prototypes are the fakes: index 0 ASF, index 1 transport stream.
class FakeTranscoder : public CTranscoderImpl {
 public:
  explicit FakeTranscoder(FakeJobStats* stats, int32_t admissionBudgetMs = 200) : m_stats(stats) {
    SetAdmissionBudget(admissionBudgetMs);
  }
  void CreateJobPrototypes() override {
    AddPrototype(new FakeJob(JobCallbacks(), true, m_stats));
    AddPrototype(new FakeJob(JobCallbacks(), false, m_stats));
  }

 private:
  FakeJobStats* m_stats;
};

// The job's owner as the transcoder plays it: notes each job handed back and each request
// forwarded, which it answers with `answer` after running onRequest.
struct RecordingOwner : NS::ITranscoderJobCallbacks {
  void OnJobReleased(NS::ITranscoderJob* job) override { released.push_back(job->GetSourcePath()); }
  int32_t ForwardRequest(NS::ITranscoderJob*, int32_t code) override {
    requests.push_back(code);
    if (onRequest) onRequest();
    return answer;
  }
  std::vector<std::u16string> released;
  std::vector<int32_t> requests;
  int32_t answer = 1;
  std::function<void()> onRequest;
};

// Host-side stand-ins: a listener that counts the failures (and other events) reported, the request for an item.
struct CountingListener : NS::IJobListener {
  void OnJobEvent(NS::ITranscoderJob*, int32_t event, int32_t, int32_t) override {
    ++(event == kJobEventFailed ? events : others);
  }
  std::atomic<int> events{0}, others{0};
};

// The client's request and the media item it asks about, in one.
class FakeOffer : public NS::IClientRequest, public NS::IMediaItem {
 public:
  FakeOffer(const char* clientId, const char* userAgent, const char16_t* path, const char* mime)
      : m_id(clientId), m_agent(userAgent), m_path(path), m_mime(mime) {}
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  const char* GetClientId() override { return m_id; }
  const char* GetRemoteAddress() override { return "127.0.0.1"; }
  const char* GetHeader(int32_t which) override { return which == 0 ? m_agent : nullptr; }
  const char* GetTitle() override { return "title"; }
  const char* GetClass() override { return "object.item.videoItem"; }
  int64_t GetSize() override { return 0; }
  const char16_t* GetSourcePath() override { return m_path; }
  int64_t GetDurationMs() override { return -1; }
  const char* GetSourceMimeType() override { return m_mime; }

 private:
  const char* m_id;
  const char* m_agent;
  const char16_t* m_path;
  const char* m_mime;
};

// A job's stream until Read answers false, or until 20 s have passed, so that a fault fails
// rather than hangs; emptyReads counts the reads that went on without a byte.
inline std::string ReadJobStream(NS::ITranscoderJob& job, int* emptyReads = nullptr) {
  std::string stream;
  uint8_t buffer[65536];
  uint32_t count = 0;
  // Bounded, but long enough for a whole minute of stream under ThreadSanitizer on a busy machine.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (job.Read(buffer, sizeof buffer, &count) && std::chrono::steady_clock::now() < deadline) {
    stream.append(reinterpret_cast<char*>(buffer), count);
    if (count == 0 && emptyReads) ++*emptyReads;
  }
  return stream;
}

inline constexpr char kPs3Agent[] = "UPnP/1.0 DLNADOC/1.50 Platform/PLAYSTATION 3";
inline constexpr char kXboxAgent[] = "Xbox/2.0.4548.0 UPnP/1.0 Xbox/2.0.4548.0";
inline constexpr char kControlPointAgent[] = "Stackvale Control Point/1.0";
