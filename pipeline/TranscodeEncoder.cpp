#include "pipeline/TranscodeEncoder.h"

namespace {
constexpr uint32_t kPipeSize = 0x500000;
constexpr uint32_t kPipeChunk = 0x10000;
}  // namespace

CTranscodeEncoder::CTranscodeEncoder(CTranscodeNodeObserver* observer, int32_t streamType)
    : m_streamType(streamType), m_observer(observer), m_pipe(PipeBufferCreate(kPipeSize, kPipeChunk, 1)) {}

bufstream* CTranscodeEncoder::GetOutput(int32_t* streamType) {
  if (streamType) *streamType = m_streamType;
  return m_pipe ? &m_pipe->readFace : nullptr;
}
