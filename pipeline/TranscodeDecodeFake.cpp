#include "pipeline/TranscodeDecodeFake.h"

int32_t CTranscodeDecodeFake::Release() {
  int32_t now = SafeRelease();
  if (now == 0) delete this;
  return now;
}

void CTranscodeDecodeFake::Receive(uint8_t* data, uint32_t size, StreamFormatRecord* format) {
  if (m_receiver) m_receiver->Receive(data, size, format);
}
