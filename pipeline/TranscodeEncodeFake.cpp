#include "pipeline/TranscodeEncodeFake.h"

#include "interfaces/SampleTimingRecord.h"

namespace {
constexpr int32_t kRoomWaitMs = 10;
}

int32_t CTranscodeEncodeFake::Release() {
  int32_t now = SafeRelease();
  if (now == 0) delete this;
  return now;
}

void CTranscodeEncodeFake::WriteAll(uint8_t* data, uint32_t size) {
  bufstream& face = m_pipe->writeFace;
  while (size > 0) {
    uint32_t put = face.copyBytes(&face, data, size);
    data += put;
    size -= put;
    if (size == 0 || PipeBufferClosed(*m_pipe)) return;
    PipeBufferWaitForRoom(*m_pipe, kRoomWaitMs);
  }
}

void CTranscodeEncodeFake::Receive(uint8_t* data, uint32_t size, StreamFormatRecord* format) {
  if (!m_pipe || !format) return;
  WriteAll(data, size);
  SampleTimingRecord record{};
  record.start = format->startTime;
  record.stop = record.start + 1;
  record.size = size;
  record.present = 1;
  record.startValid = record.start >= 0 ? 1 : 0;
  m_pipe->writeFace.auxInfo(&m_pipe->writeFace, 0, kAuxSampleTiming, &record, sizeof record);
}
