// The transport-stream job's own behaviour, over scripted nodes.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "jobs/TranscodeJobMPEG2.h"
#include "interfaces/SampleTimingRecord.h"
#include "pipeline/TranscodeDemuxMKV.h"
#include "pipeline/TranscodeMemConnection.h"
#include "pipeline/TranscodeMuxer.h"
#include "pipeline/TranscodeSink.h"
#include "interfaces/RefCounters.h"
#include "tests/support/FakeJob.h"

// The stack's event and thread primitives fail on demand: these definitions stand in front of
// the library's and forward to them otherwise.
static std::atomic<int> g_failEvents{0}, g_failThreads{0};

extern "C" int32_t NetEventCreate(NetHandle* out, int32_t manual, int32_t initial, int32_t reserved) {
  static auto real = reinterpret_cast<decltype(&NetEventCreate)>(dlsym(RTLD_NEXT, "NetEventCreate"));
  if (g_failEvents.exchange(0)) return -1;
  return real(out, manual, initial, reserved);
}

extern "C" int32_t NetThreadCreate(NetHandle* out, NetThreadProc procedure, void* argument, int32_t reserved) {
  static auto real = reinterpret_cast<decltype(&NetThreadCreate)>(dlsym(RTLD_NEXT, "NetThreadCreate"));
  if (g_failThreads.exchange(0)) return -1;
  return real(out, procedure, argument, reserved);
}

namespace {

using namespace std::chrono_literals;

constexpr int64_t kUnreachableMs = 999999;
constexpr int64_t kTicksPerSample = 3600;

struct Script {
  int32_t videoType = kStreamTypeH264;
  int audioStreams = 2;
  int samples = 5;      // Process writes this many samples, then answers 0
  bool fail = false;    // answer -1 instead of 0 at the end
  bool openFails = false;
  std::atomic<int> processed{0};
  std::atomic<int> seeks{0};
  std::vector<int32_t> muxCalls;  // the output as 0, then each stream's type
};

// A node of the pipeline counted as the job counts its nodes.
template <class Node>
struct Counted : Node, CSafetyRefCnt {
  int32_t AddRef() override { return SafeAddRef(); }
  int32_t Release() override {
    int32_t n = SafeRelease();
    if (n == 0) delete this;
    return n;
  }
};

// One video and the script's audio streams; each Process writes one 188-byte sample.
class ScriptedDemuxer : public Counted<CTranscodeDemuxer> {
 public:
  explicit ScriptedDemuxer(Script* script) : m_script(script) {}
  int32_t Open(const char16_t*) override {
    for (int i = 0; i < 1 + m_script->audioStreams; ++i)
      m_connections.push_back(std::make_unique<CTranscodeMemConnection>(0x500000, 0x10000));
    return m_script->openFails ? -1 : 0;
  }
  int32_t Abort() override {
    for (auto& c : m_connections) c->Wake();
    return 0;
  }
  int32_t GetStreamCount(int32_t kind) override { return kind == 1 ? 1 : m_script->audioStreams; }
  CTranscodeMemConnection* GetStream(int32_t kind, uint8_t index, int32_t* type) override {
    *type = kind == 1 ? m_script->videoType : kStreamTypeAac;
    return m_connections[kind == 1 ? 0 : 1u + index].get();
  }
  int32_t Seek(int64_t ms, int64_t) override { return ++m_script->seeks, ms == kUnreachableMs ? -1 : 0; }
  int32_t Process() override {
    int n = m_script->processed++;
    if (n >= m_script->samples) return m_script->fail ? -1 : 0;
    uint8_t sample[188] = {0x47};
    CTranscodeMemConnection* c = m_connections[0].get();
    if (c->copyBytes(c, sample, sizeof sample) != sizeof sample) return -1;
    int64_t start = n * kTicksPerSample;  // 64-bit: the racing test's worker runs long
    SampleTimingRecord timing{.start = start, .stop = start + 1, .size = sizeof sample, .present = 1, .startValid = 1, .reserved = {}};
    c->auxInfo(c, 0, kAuxSampleTiming, &timing, sizeof timing);
    return sizeof sample;
  }
  int64_t GetDuration() override { return 4321; }

 private:
  Script* m_script;
  std::vector<std::unique_ptr<CTranscodeMemConnection>> m_connections;
};

// Records how it is wired; at Close it writes one packet of "stream" into the sink.
class RecordingMuxer : public Counted<CTranscodeMuxer> {
 public:
  explicit RecordingMuxer(Script* script) : m_script(script) {}
  void AddStream(bufstream*, int32_t type) override { m_script->muxCalls.push_back(type); }
  int32_t SetOutput(bufstream* output) override {
    m_output = output;
    m_script->muxCalls.push_back(0);
    return 0;
  }
  void Close() override {
    uint8_t packet[188] = {0x47, 1, 2, 3};
    if (m_output) m_output->copyBytes(m_output, packet, sizeof packet);
  }

 private:
  Script* m_script;
  bufstream* m_output = nullptr;
};

class ScriptedJob : public CTranscodeJobMPEG2 {
 public:
  explicit ScriptedJob(Script* script) : CTranscodeJobMPEG2(nullptr), m_script(script) {}
  CTranscodeDemuxer* CreateDemuxer() override { return new ScriptedDemuxer(m_script); }
  CTranscodeMuxer* CreateMuxer() override { return new RecordingMuxer(m_script); }

 private:
  Script* m_script;
};

TEST(TranscodeJobMPEG2, RefusalsAndAnUnstartedStop) {
  Script script;
  script.openFails = true;
  ScriptedJob job(&script);
  EXPECT_EQ(job.Open(nullptr, nullptr, nullptr), kJobFailed);
  EXPECT_EQ(job.Open(nullptr, u"/m/a.mkv", "video/mp4"), kJobUnsupportedType);
  EXPECT_EQ(job.Open(nullptr, u"/m/a.mkv", nullptr), kJobUnusableSource);
  EXPECT_EQ(job.Start(0, -1), kJobFailed);
  EXPECT_EQ(job.GetDuration(), -1);
  EXPECT_EQ(job.Stop(), 0);
  uint32_t count = 0;
  uint8_t buffer[8];
  EXPECT_FALSE(job.Read(buffer, sizeof buffer, &count));
}

// A failing demultiplexer and any other event print their code and end the stream; what the
// pipeline held still comes out, and the host is told the stream failed.
TEST(TranscodeJobMPEG2, EventsPrintTheirCodeAndEndTheStream) {
  Script script;
  script.fail = true;
  ScriptedJob job(&script);
  CountingListener listener;
  ASSERT_EQ(job.Open(&listener, u"/m/a.mkv", nullptr), 0);
  testing::internal::CaptureStdout();
  ASSERT_EQ(job.Start(0, -1), 0);
  int emptyReads = 0;
  EXPECT_EQ(ReadJobStream(job, &emptyReads).size(), 188u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n\nTranscoderJob:Notify#   0\n\n");
  EXPECT_EQ(emptyReads, 0);
  EXPECT_TRUE(listener.events == 1 && listener.others == 0);

  ScriptedJob other(&script);
  ASSERT_EQ(other.Open(nullptr, u"/m/a.mkv", nullptr), 0);
  testing::internal::CaptureStdout();
  other.Notify(kNodeEventSeekFailed);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n\nTranscoderJob:Notify#  10\n\n");
  EXPECT_EQ(ReadJobStream(other, &emptyReads), "");
  EXPECT_EQ(emptyReads, 0);
}

size_t Entries(const char* folder) {
  return size_t(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()));
}

// Answering an offer opens the source only to look at it: no descriptor and no thread of the
// multiplexer outlive the answer.
TEST(TranscodeJobMPEG2, CheckSourceKeepsNothingOpen) {
  std::u16string path;
  for (char c : std::string(VEXA_SAMPLE_MKV)) path += char16_t(c);
  {
    CTranscodeJobMPEG2 first(nullptr);  // what the framework's first use keeps, stays
    ASSERT_EQ(first.CheckSource(path.c_str(), nullptr), 0);
  }
  CTranscodeJobMPEG2 prototype(nullptr);
  size_t descriptors = Entries("/proc/self/fd"), threads = Entries("/proc/self/task");
  ASSERT_EQ(prototype.CheckSource(path.c_str(), nullptr), 0);
  EXPECT_EQ(Entries("/proc/self/fd"), descriptors);
  EXPECT_EQ(Entries("/proc/self/task"), threads);
}

// Start answers failure when its producer cannot run: no stop event, no worker, or a first
// position it cannot reach. The next Start, with nothing failing, streams. Open wires the
// output first, then the video (H.264 only), then every audio stream.
TEST(TranscodeJobMPEG2, StartFailsWhenItsProducerCannotRun) {
  struct Case {
    int events, threads;
    int64_t fromMs;
    int32_t videoType;
  };
  for (Case c : {Case{1, 0, 0, kStreamTypeH264}, Case{0, 1, 0, kStreamTypeMpeg2Video},
                 Case{0, 0, kUnreachableMs, kStreamTypeH264}}) {
    Script script;
    script.videoType = c.videoType;
    ScriptedJob job(&script);
    ASSERT_EQ(job.Open(nullptr, u"/m/a.mkv", nullptr), 0);
    std::vector<int32_t> wired = {0, kStreamTypeH264, kStreamTypeAac, kStreamTypeAac};
    if (c.videoType != kStreamTypeH264) wired.erase(wired.begin() + 1);
    EXPECT_EQ(script.muxCalls, wired);
    EXPECT_EQ(job.GetDuration(), 4321);
    g_failEvents = c.events;
    g_failThreads = c.threads;
    EXPECT_EQ(job.Start(c.fromMs, -1), kJobFailed) << c.events << c.threads;
    g_failEvents = g_failThreads = 0;
    ASSERT_EQ(job.Start(0, -1), 0);
    EXPECT_EQ(ReadJobStream(job).size(), 188u);
  }
}

// The host calls Start, Stop, Seek and TogglePause from several threads while it reads: the
// job must never free its pipeline under its worker, nor lose a worker it made (run under
// ASan and TSan).
TEST(TranscodeJobMPEG2, ControlCallsRacingOnSeveralThreads) {
  constexpr int kRounds = 2000;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  Script script;
  script.samples = 1 << 30;
  ScriptedJob job(&script);
  ASSERT_EQ(job.Open(nullptr, u"/m/a.mkv", nullptr), 0);
  std::atomic<bool> done{false};
  auto loop = [&](auto step) {
    return std::thread([&, step] {
      for (int i = 0; i < kRounds && std::chrono::steady_clock::now() < deadline; ++i) step(i);
    });
  };
  std::thread reader([&] {
    uint8_t buffer[4096];
    uint32_t count = 0;
    while (!done) job.Read(buffer, sizeof buffer, &count);
  });
  std::thread starter = loop([&](int i) { job.Start(i % 3 ? 0 : -1, -1); });
  std::thread stopper = loop([&](int) { job.Stop(); });
  std::thread seeker = loop([&](int i) { i % 2 ? job.Seek(40) : job.TogglePause(); });
  auto joined = std::async(std::launch::async, [&] {
    starter.join();
    stopper.join();
    seeker.join();
    return job.Stop();
  });
  if (joined.wait_for(deadline - std::chrono::steady_clock::now() + 20s) != std::future_status::ready) {
    ADD_FAILURE() << "a control call hangs";  // the threads cannot be joined: end the process
    std::fflush(stdout);
    std::_Exit(1);
  }
  EXPECT_EQ(joined.get(), 0);
  done = true;
  reader.join();
  script.samples = 0;  // the stream still runs from start to end afterwards
  script.processed = 0;
  ASSERT_EQ(job.Start(0, -1), 0);
  EXPECT_FALSE(ReadJobStream(job).empty());
}

}  // namespace
