// The transport-stream job: remultiplexes a Matroska file with H.264 video into an MPEG-2
// transport stream through a pipeline of nodes, driven by a worker thread of its own.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "interfaces/NetLock.h"
#include "interfaces/sv_net_tools.h"
#include "jobs/BaseTranscoderJob.h"
#include "pipeline/TranscodeNodeObserver.h"

class CTranscodeDemuxer;
class CTranscodeDecoder;
class CTranscodeEncoder;
class CTranscodeMuxer;
class CTranscodeSink;

inline constexpr char kMpeg2MimeType[] = "video/MP2T";
inline constexpr char kMpeg2DlnaProfile[] =
    "MPEG_PS_NTSC;DLNA.ORG_OP=10;DLNA.ORG_CI=1;DLNA.ORG_FLAGS=01500000000000000000000000000000";

class CTranscodeJobMPEG2 : public CBaseTranscoderJob, public CTranscodeNodeObserver {
 public:
  explicit CTranscodeJobMPEG2(NS::ITranscoderJobCallbacks* owner);
  ~CTranscodeJobMPEG2() override;

  bool Seek(int64_t ms) override;
  bool QueryFlag(uint32_t) override { return false; }
  int64_t GetDuration() override;
  bool Read(uint8_t* buffer, uint32_t size, uint32_t* count) override;
  bool IsValid() override { return true; }
  int64_t GetTimestamp() override;
  int32_t QueryValue(uint32_t) override { return 0; }
  int32_t Start(int64_t fromMs, int64_t toMs) override;
  int32_t Stop() override;
  int32_t TogglePause() override;
  int32_t Open(NS::IJobListener* listener, const char16_t* path, const char* mime) override;
  int32_t CheckSource(const char16_t* path, const char* mime) override;
  NS::ITranscoderJob* MakeJob(NS::ITranscoderJobCallbacks* owner) override;
  int64_t GetTranscodedDuration() override { return GetDuration(); }

  // The node factories.
  virtual CTranscodeDemuxer* CreateDemuxer();
  virtual CTranscodeDecoder* CreateDecoder();
  virtual CTranscodeEncoder* CreateEncoder(int32_t streamType);
  virtual CTranscodeDecoder* CreateVideoDecoder();
  virtual CTranscodeEncoder* CreateVideoEncoder(int32_t streamType);
  virtual CTranscodeMuxer* CreateMuxer();
  virtual CTranscodeSink* CreateSink();

  void Notify(int32_t code) override;

 private:
  static uint32_t WorkerMain(void* argument);
  void RunWorker();
  bool StopRequested();
  // The worker and its stop event, made together; false when either cannot be made.
  bool StartWorker();
  // Sets the stop event, makes every waiter give up and joins the worker Start made.
  void StopWorker();
  int32_t StopLocked();
  // A seek on a running stream: the pipeline after the demultiplexer is made anew, so that
  // nothing read before the seek reaches the host after it.
  bool RestartAt(int64_t ms);
  // continuesAnother: the new output follows one the host has read from (a seek).
  int32_t BuildPipeline(const char16_t* path, bool continuesAnother = false);
  void AddVideoBranch();
  void AddAudioBranches();
  void FlushPipeline();
  // Makes every waiter in the pipeline give up: the demultiplexer's writers, the encoders
  // waiting for room in their pipe buffers and the multiplexer waiting on the sink.
  void AbortPipeline();
  void ReleaseNodes();
  void ReleaseDemuxer();
  // A counted reference to the sink or the demultiplexer, safe against a concurrent teardown.
  CTranscodeSink* HoldSink();
  CTranscodeDemuxer* HoldDemuxer();

  NS::IJobListener* m_listener = nullptr;
  CTranscodeDemuxer* m_demuxer = nullptr;
  CTranscodeDecoder* m_videoDecoder = nullptr;
  std::vector<CTranscodeDecoder*> m_audioDecoders;
  CTranscodeEncoder* m_videoEncoder = nullptr;
  std::vector<CTranscodeEncoder*> m_audioEncoders;
  CTranscodeMuxer* m_muxer = nullptr;
  CTranscodeSink* m_sink = nullptr;
  CNetEvent m_stopEvent;
  NetHandle m_worker = nullptr;
  // Serialises Open, Start, Stop, Seek and TogglePause: the worker and its stop event are
  // made and unmade only under it. Read and Notify never take it.
  std::mutex m_controlLock;
  std::atomic<bool> m_paused{false};
  // The duration CheckSource found, answered while no pipeline is built.
  std::atomic<int64_t> m_checkedDurationMs{-1};
  // Set when the stream was cut short: once the sink is drained, Read answers false.
  std::atomic<bool> m_streamOver{false};
  // Guards the sink and demultiplexer pointers between the host's threads: Read and Seek take
  // a reference under it, the teardown swaps the pointer out under it.
  std::mutex m_nodeLock;
};
