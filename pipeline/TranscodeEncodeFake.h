// The pass-through encoder: writes every sample unchanged into its pipe buffer, followed by the
// sample's timing record. When the pipe buffer is full it waits for the reader in short steps
// rather than losing bytes, and gives up at once when the reader has closed the buffer.
#pragma once

#include "pipeline/TranscodeEncoder.h"
#include "interfaces/RefCounters.h"

class CTranscodeEncodeFake : public CTranscodeEncoder, public CSafetyRefCnt {
 public:
  CTranscodeEncodeFake(CTranscodeNodeObserver* observer, int32_t streamType)
      : CTranscodeEncoder(observer, streamType) {}

  int32_t AddRef() override { return SafeAddRef(); }
  int32_t Release() override;
  void Receive(uint8_t* data, uint32_t size, StreamFormatRecord* format) override;

 private:
  void WriteAll(uint8_t* data, uint32_t size);
};
