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

CTranscodeJobMPEG2::~CTranscodeJobMPEG2() {
  Stop();
  ReleaseNodes();
  ReleaseDemuxer();
}

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
  if (!demuxer) return -1;
  int64_t duration = demuxer->GetDuration();
  demuxer->Release();
  return duration;
}

int64_t CTranscodeJobMPEG2::GetTimestamp() { return static_cast<int64_t>(std::time(nullptr)); }

bool CTranscodeJobMPEG2::Seek(int64_t ms) {
  CTranscodeDemuxer* demuxer = HoldDemuxer();
  if (demuxer) {
    demuxer->Seek(ms, -1);
    demuxer->Release();
  }
  return true;
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
  m_paused = !m_paused;
  return 0;
}

int32_t CTranscodeJobMPEG2::Open(NS::IJobListener* listener, const char16_t* path,
                                 const char* mime) {
  if (!path) return kJobFailed;
  Stop();
  ReleaseNodes();
  ReleaseDemuxer();
  m_listener = listener;
  if (!StoreSourcePath(path)) return kJobFailed;
  return CheckSource(GetSourcePath(), mime);
}

int32_t CTranscodeJobMPEG2::CheckSource(const char16_t* path, const char* mime) {
  int32_t status = CheckMatroskaSource(path, mime);
  if (status != kJobOk) return status;
  return BuildPipeline(path);
}

int32_t CTranscodeJobMPEG2::BuildPipeline(const char16_t* path) {
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
  {
    std::lock_guard hold(m_nodeLock);
    m_sink = sink;
  }
  if (m_muxer) m_muxer->SetOutput(m_sink ? m_sink->WritingFace() : nullptr);
  AddVideoBranch();
  AddAudioBranches();
  return kJobOk;
}

void CTranscodeJobMPEG2::AddVideoBranch() {
  int32_t streamType = 0;
  CTranscodeMemConnection* connection = m_demuxer->GetStream(1, 0, &streamType);
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
  size_t count = static_cast<uint8_t>(m_demuxer->GetStreamCount(2));
  m_audioDecoders.assign(count, nullptr);
  m_audioEncoders.assign(count, nullptr);
  for (size_t i = 0; i < count; ++i) {
    int32_t streamType = 0;
    CTranscodeMemConnection* connection =
        m_demuxer->GetStream(2, static_cast<uint8_t>(i), &streamType);
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
  if (!m_demuxer && GetSourcePath()) BuildPipeline(GetSourcePath());
  if (!m_demuxer) return kJobFailed;
  if (fromMs >= 0) m_demuxer->Seek(fromMs, toMs);
  if (!m_stopEvent && !m_worker) {
    NetEventCreate(&m_stopEvent, 0, 0, 0);
    NetThreadCreate(&m_worker, WorkerMain, this, 0);
  }
  m_paused = false;
  return kJobOk;
}

uint32_t CTranscodeJobMPEG2::WorkerMain(void* argument) {
  if (argument) static_cast<CTranscodeJobMPEG2*>(argument)->RunWorker();
  return NetThreadExit(argument);
}

void CTranscodeJobMPEG2::RunWorker() {
  while (NetEventWait(m_stopEvent, 0) == kNetWaitTimeout) {
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
    if (result < 0) {
      Notify(kNodeEventPipelineBroken);
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
      // The notice is printed, and the stream ends after what the pipeline already holds.
      std::printf("\n\nTranscoderJob:Notify#%4d\n\n", code);
      std::fflush(stdout);
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
  if (m_stopEvent) NetEventSet(m_stopEvent);
  // The worker may be waiting for room anywhere downstream: every wait gives up first.
  AbortPipeline();
  if (m_worker) {
    NetThreadJoin(m_worker, kNetWaitInfinite);
    NetThreadClose(m_worker);
    m_worker = nullptr;
  }
  if (m_stopEvent) {
    NetEventDestroy(m_stopEvent);
    m_stopEvent = nullptr;
  }
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
