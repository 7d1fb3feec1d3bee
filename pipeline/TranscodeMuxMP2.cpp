#include "pipeline/TranscodeMuxMP2.h"

#include <cstring>
#include <new>

namespace {

constexpr int32_t kPreset = 5;
// SetOutput's answers at the node's border.
constexpr int32_t kOutputSet = 0;
constexpr int32_t kOutputRefused = -1;
constexpr int32_t kCheckFlags = 2;
constexpr uint32_t kOutputOptionWord = 4096;
constexpr uint32_t kStreamRateHint = 5000;

void DiscardPrint(const char*, ...) {}

constexpr const char* kPrintNames[] = {"err_printf", "wrn_printf", "inf_printf"};

// The stream kind for a code the library takes, 0 for the others.
uint32_t StreamKind(int32_t code) {
  switch (code) {
    case kStreamTypeMpeg2Video:
    case kStreamTypeH264:
      return kMuxKindVideo;
    case kStreamTypeMpegAudio:
    case kStreamTypeAac:
    case kStreamTypeAc3:
    case kStreamTypePcm:
      return kMuxKindAudio;
    default:
      return 0;
  }
}

}  // namespace

void* CTranscodeMuxMP2::ResourceCallback(const char* name) {
  if (!name) return nullptr;
  for (const char* known : kPrintNames)
    if (std::strcmp(name, known) == 0) return reinterpret_cast<void*>(&DiscardPrint);
  return nullptr;
}

CTranscodeMuxMP2::CTranscodeMuxMP2(CTranscodeNodeObserver* observer, const char* libraryPath)
    : m_observer(observer), m_library(new (std::nothrow) MuxMp2Library(libraryPath)) {
  if (m_library && m_library->IsLoaded()) {
    MuxMp2Settings settings;
    std::memset(&settings, 0, sizeof settings);
    m_library->defaults(&settings, kPreset);
    settings.pcrOnVideo = 1;
    if (m_library->check(&ResourceCallback, &settings, kCheckFlags, nullptr) == 0)
      m_instance = m_library->create(&ResourceCallback, &settings);
  }
  if (!m_instance) Report();
}

CTranscodeMuxMP2::~CTranscodeMuxMP2() { Finish(1); }

int32_t CTranscodeMuxMP2::Release() {
  int32_t now = SafeRelease();
  if (now == 0) delete this;
  return now;
}

void CTranscodeMuxMP2::Report() {
  if (m_observer) m_observer->Notify(kNodeEventMuxRefused);
}

void CTranscodeMuxMP2::CloseInput(bufstream* input) {
  input->auxInfo(input, 0, kAuxReaderClosed, nullptr, 0);
}

int32_t CTranscodeMuxMP2::SetOutput(bufstream* output) {
  if (!output || !m_instance) return kOutputRefused;
  MuxMp2OutputOptions options;
  std::memset(&options, 0, sizeof options);
  options.pmtPid = kOutputOptionWord;
  options.continuesAnother = m_continuesAnother ? 1 : 0;
  if (m_library->setOutput(m_instance, &options, output) == 0) return kOutputSet;
  Report();
  return kOutputRefused;
}

void CTranscodeMuxMP2::AddStream(bufstream* input, int32_t streamType) {
  if (!input) return;
  uint32_t kind = StreamKind(streamType);
  if (!m_instance || kind == 0) {
    CloseInput(input);
    return;
  }
  MuxMp2StreamSettings stream;
  std::memset(&stream, 0, sizeof stream);
  stream.streamType = streamType;
  stream.streamKind = kind;
  stream.rateHintKbps = kStreamRateHint;
  if (m_library->addStream(m_instance, &stream, input) != 0) {
    CloseInput(input);
    Report();
    return;
  }
  m_inputs.push_back(input);
}

void CTranscodeMuxMP2::Finish(int32_t abort) {
  if (!m_instance) return;
  m_library->done(m_instance, abort);
  m_library->free(m_instance);
  m_instance = nullptr;
  for (bufstream* input : m_inputs) CloseInput(input);
  m_inputs.clear();
}

void CTranscodeMuxMP2::Close() { Finish(0); }
