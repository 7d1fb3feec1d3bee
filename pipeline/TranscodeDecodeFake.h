// The pass-through decoder: hands every sample on unchanged.
#pragma once

#include "pipeline/TranscodeDecoder.h"
#include "interfaces/RefCounters.h"

class CTranscodeDecodeFake : public CTranscodeDecoder, public CSafetyRefCnt {
 public:
  explicit CTranscodeDecodeFake(CTranscodeNodeObserver* observer) : CTranscodeDecoder(observer) {}

  int32_t AddRef() override { return SafeAddRef(); }
  int32_t Release() override;
  void Receive(uint8_t* data, uint32_t size, StreamFormatRecord* format) override;
};
