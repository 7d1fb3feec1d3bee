#include "jobs/TranscodeJobMPEG2.h"

#include <cstdio>
#include <ctime>
#include <new>
#include <thread>

#include "pipeline/TranscodeDecodeFake.h"
#include "pipeline/TranscodeDemuxMKV.h"
#include "pipeline/TranscodeEncodeFake.h"
#include "pipeline/TranscodeMuxMP2.h"
#include "pipeline/TranscodeSink.h"
#include "interfaces/bufstream.h"

namespace {

constexpr int32_t kListenerNodeError = 4;

template <class Node>
void ReleaseAndForget(Node*& node) {
  if (node) node->Release();
  node = nullptr;
}

// An encoder's pipe buffer that nobody will read any more: its writer stops waiting for room.
void CloseEncoderOutput(CTranscodeEncoder* encoder) {
  if (!encoder) return;
  int32_t streamType = 0;
  bufstream* face = encoder->GetOutput(&streamType);
  if (face) face->auxInfo(face, 0, kAuxReaderClosed, nullptr, 0);
}

}  // namespace

CTranscodeJobMPEG2::CTranscodeJobMPEG2(NS::ITranscoderJobCallbacks* owner)
    : CBaseTranscoderJob(owner, kMpeg2MimeType, kMpeg2DlnaProfile) {}

CTranscodeJobMPEG2::~CTranscodeJobMPEG2() { Stop(); }

NS::ITranscoderJob* CTranscodeJobMPEG2::MakeJob(NS::ITranscoderJobCallbacks* owner) {
  return new (std::nothrow) CTranscodeJobMPEG2(owner);
}

CTranscodeDemuxer* CTranscodeJobMPEG2::CreateDemuxer() {
  return new (std::nothrow) CTranscodeDemuxMKV(this);
}
CTranscodeDecoder* CTranscodeJobMPEG2::CreateDecoder() {
  return new (std::nothrow) CTranscodeDecodeFake(this);
}
CTranscodeEncoder* CTranscodeJobMPEG2::CreateEncoder(int32_t streamType) {
  return new (std::nothrow) CTranscodeEncodeFake(this, streamType);
}
CTranscodeDecoder* CTranscodeJobMPEG2::CreateVideoDecoder() {
  return new (std::nothrow) CTranscodeDecodeFake(this);
}
CTranscodeEncoder* CTranscodeJobMPEG2::CreateVideoEncoder(int32_t streamType) {
  return new (std::nothrow) CTranscodeEncodeFake(this, streamType);
}
CTranscodeMuxer* CTranscodeJobMPEG2::CreateMuxer() {
  return new (std::nothrow) CTranscodeMuxMP2(this);
}
CTranscodeSink* CTranscodeJobMPEG2::CreateSink() { return new (std::nothrow) CTranscodeSink(this); }

CTranscodeSink* CTranscodeJobMPEG2::HoldSink() {
  std::lock_guard hold(m_nodeLock);
  if (m_sink) m_sink->AddRef();
  return m_sink;
}

CTranscodeDemuxer* CTranscodeJobMPEG2::HoldDemuxer() {
  std::lock_guard hold(m_nodeLock);
  if (m_demuxer) m_demuxer->AddRef();
  return m_demuxer;
}

int64_t CTranscodeJobMPEG2::GetDuration() {
  CTranscodeDemuxer* demuxer = HoldDemuxer();
  if (!demuxer) return m_checkedDurationMs;
  int64_t duration = demuxer->GetDuration();
  demuxer->Release();
  return duration;
}

int64_t CTranscodeJobMPEG2::GetTimestamp() { return static_cast<int64_t>(std::time(nullptr)); }

bool CTranscodeJobMPEG2::Seek(int64_t ms) {
  std::lock_guard control(m_controlLock);
  if (!m_demuxer) return true;
  if (m_worker) return RestartAt(ms);
  m_demuxer->Seek(ms, -1);
  return true;
}

bool CTranscodeJobMPEG2::RestartAt(int64_t ms) {
  StopWorker();
  if (BuildPipeline(GetSourcePath(), true) != kJobOk) return false;
  if (m_demuxer->Seek(ms, -1) != 0) return false;
  return StartWorker();
}

bool CTranscodeJobMPEG2::Read(uint8_t* buffer, uint32_t size, uint32_t* count) {
  CTranscodeSink* sink = HoldSink();
  if (!sink) return false;
  bool more = sink->Read(buffer, size, count) == 0;
  sink->Release();
  // A stream cut short by a failure ends once what it held is read, rather than answering
  // empty reads for ever.
  if (more && count && *count == 0 && m_streamOver) return false;
  return more;
}

int32_t CTranscodeJobMPEG2::TogglePause() {
  std::lock_guard control(m_controlLock);
  m_paused = !m_paused;
  return 0;
}

int32_t CTranscodeJobMPEG2::Open(NS::IJobListener* listener, const char16_t* path,
                                 const char* mime) {
  if (!path) return kJobFailed;
  std::lock_guard control(m_controlLock);
  StopLocked();
  m_listener = listener;
  if (!StoreSourcePath(path)) return kJobFailed;
  int32_t status = CheckMatroskaSource(GetSourcePath(), mime);
  if (status != kJobOk) return status;
  return BuildPipeline(GetSourcePath());
}

// Answers an offer: opens the source only to see that it can be served, and keeps nothing.
int32_t CTranscodeJobMPEG2::CheckSource(const char16_t* path, const char* mime) {
  int32_t status = CheckMatroskaSource(path, mime);
  if (status != kJobOk) return status;
  CTranscodeDemuxer* probe = CreateDemuxer();
  if (!probe) return kJobUnusableSource;
  bool opened = probe->Open(path) == 0;
  // The offer names the duration: it outlives the look at the source.
  m_checkedDurationMs = opened ? probe->GetDuration() : -1;
  probe->Release();
  return opened ? kJobOk : kJobUnusableSource;
}

int32_t CTranscodeJobMPEG2::BuildPipeline(const char16_t* path, bool continuesAnother) {
  ReleaseNodes();
  if (!m_demuxer) {
    CTranscodeDemuxer* demuxer = CreateDemuxer();
    std::lock_guard hold(m_nodeLock);
    m_demuxer = demuxer;
  } else {
    m_demuxer->Abort();
  }
  if (!m_demuxer || m_demuxer->Open(path) != 0) {
    ReleaseDemuxer();
    return kJobUnusableSource;
  }
  m_streamOver = false;
  m_muxer = CreateMuxer();
  CTranscodeSink* sink = CreateSink();
  if (sink && !sink->IsUsable()) {
    static_cast<NS::INetRefCounted*>(sink)->Release();
    sink = nullptr;
  }
  {
    std::lock_guard hold(m_nodeLock);
    m_sink = sink;
  }
  if (!m_sink) return kJobFailed;
  if (m_muxer && continuesAnother) m_muxer->ContinueAnother();
  if (m_muxer) m_muxer->SetOutput(m_sink->WritingFace());
  AddVideoBranch();
  AddAudioBranches();
  return kJobOk;
}

void CTranscodeJobMPEG2::AddVideoBranch() {
  int32_t streamType = 0;
  CTranscodeMemConnection* connection = m_demuxer->GetStream(kDemuxKindVideo, 0, &streamType);
  if (connection && streamType == kStreamTypeH264) {
    m_videoDecoder = CreateVideoDecoder();
    if (m_videoDecoder) m_videoDecoder->SetSource(connection, streamType);
  }
  if (!m_videoDecoder) return;
  m_videoEncoder = CreateVideoEncoder(streamType);
  if (!m_videoEncoder) return;
  m_videoDecoder->SetReceiver(m_videoEncoder);
  int32_t outputType = 0;
  bufstream* face = m_videoEncoder->GetOutput(&outputType);
  if (face && m_muxer) m_muxer->AddStream(face, outputType);
}

void CTranscodeJobMPEG2::AddAudioBranches() {
  size_t count = static_cast<uint8_t>(m_demuxer->GetStreamCount(kDemuxKindAudio));
  m_audioDecoders.assign(count, nullptr);
  m_audioEncoders.assign(count, nullptr);
  for (size_t i = 0; i < count; ++i) {
    int32_t streamType = 0;
    CTranscodeMemConnection* connection =
        m_demuxer->GetStream(kDemuxKindAudio, static_cast<uint8_t>(i), &streamType);
    if (!connection) continue;
    CTranscodeDecoder* decoder = m_audioDecoders[i] = CreateDecoder();
    if (!decoder) continue;
    decoder->SetSource(connection, streamType);
    CTranscodeEncoder* encoder = m_audioEncoders[i] = CreateEncoder(streamType);
    if (!encoder) continue;
    decoder->SetReceiver(encoder);
    int32_t outputType = 0;
    bufstream* face = encoder->GetOutput(&outputType);
    if (face && m_muxer) m_muxer->AddStream(face, outputType);
  }
}

int32_t CTranscodeJobMPEG2::Start(int64_t fromMs, int64_t toMs) {
  std::lock_guard control(m_controlLock);
  if (!m_demuxer && GetSourcePath() && BuildPipeline(GetSourcePath()) != kJobOk) StopLocked();
  if (!m_demuxer) return kJobFailed;
  if (m_worker) {
    // A second Start starts no second worker; a position moves the running stream.
    if (fromMs >= 0 && !RestartAt(fromMs)) return kJobFailed;
  } else {
    if (fromMs >= 0 && m_demuxer->Seek(fromMs, toMs) != 0) return kJobFailed;
    if (!StartWorker()) return kJobFailed;
  }
  m_paused = false;
  return kJobOk;
}

bool CTranscodeJobMPEG2::StartWorker() {
  if (!m_stopEvent.Create(false)) return false;
  NetHandle worker = nullptr;
  if (NetThreadCreate(&worker, WorkerMain, this, 0) != 0 || !worker) {
    m_stopEvent.Destroy();
    return false;
  }
  m_worker = worker;
  return true;
}

void CTranscodeJobMPEG2::StopWorker() {
  if (m_stopEvent) NetEventSet(m_stopEvent.Handle());
  // The worker may be waiting for room anywhere downstream: every wait gives up first.
  AbortPipeline();
  if (m_worker) {
    NetThreadJoin(m_worker, kNetWaitInfinite);
    NetThreadClose(m_worker);
    m_worker = nullptr;
  }
  m_stopEvent.Destroy();
}

uint32_t CTranscodeJobMPEG2::WorkerMain(void* argument) {
  if (argument) static_cast<CTranscodeJobMPEG2*>(argument)->RunWorker();
  return NetThreadExit(argument);
}

bool CTranscodeJobMPEG2::StopRequested() {
  return NetEventWait(m_stopEvent.Handle(), 0) != kNetWaitTimeout;
}

void CTranscodeJobMPEG2::RunWorker() {
  while (!StopRequested()) {
    if (m_paused) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    if (!m_demuxer) {
      Notify(kNodeEventPipelineBroken);
      return;
    }
    int32_t result = m_demuxer->Process();
    if (result == 0) {
      Notify(kNodeEventEndOfInput);
      return;
    }
    // A step cut short by Stop or a seek is no failure of the source.
    if (result < 0) {
      if (!StopRequested()) Notify(kNodeEventPipelineBroken);
      return;
    }
  }
}

void CTranscodeJobMPEG2::FlushPipeline() {
  if (m_videoDecoder) m_videoDecoder->Flush();
  for (size_t i = m_audioDecoders.size(); i-- > 0;)
    if (m_audioDecoders[i]) m_audioDecoders[i]->Flush();
  for (size_t i = m_audioEncoders.size(); i-- > 0;)
    if (m_audioEncoders[i]) m_audioEncoders[i]->Flush();
  if (m_videoEncoder) m_videoEncoder->Flush();
  if (m_muxer) m_muxer->Close();
}

void CTranscodeJobMPEG2::Notify(int32_t code) {
  CTranscodeSink* sink = HoldSink();
  switch (code) {
    case kNodeEventMuxRefused:
      if (m_listener) m_listener->OnJobEvent(this, kListenerNodeError, 0, 0);
      m_streamOver = true;
      if (sink) sink->Reset();
      break;
    case kNodeEventEndOfInput:
      FlushPipeline();
      if (sink) sink->SetEndOfStream();
      break;
    case kNodeEventEndDelivered:
      m_streamOver = true;
      if (sink) sink->Reset();
      break;
    case kNodeEventPipelineBroken:
      // The notice is printed, the host is told, and the stream ends after what the pipeline
      // already holds: Read then answers false.
      std::printf("\n\nTranscoderJob:Notify#%4d\n\n", code);
      std::fflush(stdout);
      if (m_listener) m_listener->OnJobEvent(this, kListenerNodeError, 0, 0);
      FlushPipeline();
      if (sink) sink->SetEndOfStream();
      break;
    default:
      std::printf("\n\nTranscoderJob:Notify#%4d\n\n", code);
      std::fflush(stdout);
      m_streamOver = true;
      if (sink) sink->Reset();
      break;
  }
  if (sink) sink->Release();
}

void CTranscodeJobMPEG2::AbortPipeline() {
  if (m_demuxer) m_demuxer->Abort();
  CloseEncoderOutput(m_videoEncoder);
  for (CTranscodeEncoder* encoder : m_audioEncoders) CloseEncoderOutput(encoder);
  if (CTranscodeSink* sink = HoldSink()) {
    sink->Reset();
    sink->Release();
  }
}

int32_t CTranscodeJobMPEG2::Stop() {
  std::lock_guard control(m_controlLock);
  return StopLocked();
}

int32_t CTranscodeJobMPEG2::StopLocked() {
  StopWorker();
  ReleaseNodes();
  ReleaseDemuxer();
  return 0;
}

void CTranscodeJobMPEG2::ReleaseNodes() {
  // The multiplexer goes first: its library reads the encoders' pipe buffers on a thread of its
  // own until the instance is finished, so the buffers must outlive it.
  ReleaseAndForget(m_muxer);
  ReleaseAndForget(m_videoDecoder);
  for (size_t i = m_audioDecoders.size(); i-- > 0;) ReleaseAndForget(m_audioDecoders[i]);
  m_audioDecoders.clear();
  ReleaseAndForget(m_videoEncoder);
  for (size_t i = m_audioEncoders.size(); i-- > 0;) ReleaseAndForget(m_audioEncoders[i]);
  m_audioEncoders.clear();
  CTranscodeSink* sink = nullptr;
  {
    std::lock_guard hold(m_nodeLock);
    std::swap(sink, m_sink);
  }
  if (sink) static_cast<NS::INetRefCounted*>(sink)->Release();
}

void CTranscodeJobMPEG2::ReleaseDemuxer() {
  CTranscodeDemuxer* demuxer = nullptr;
  {
    std::lock_guard hold(m_nodeLock);
    std::swap(demuxer, m_demuxer);
  }
  if (demuxer) demuxer->Release();
}
