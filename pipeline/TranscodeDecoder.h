// The decoder stage: attached to a memory connection as its receiver, passes samples on.
#pragma once

#include <cstdint>

#include "pipeline/TranscodeNodeObserver.h"
#include "pipeline/TranscodeReceiver.h"

class CTranscodeMemConnection;

class CTranscodeDecoder : public CTranscodeReceiver {
 public:
  virtual CTranscodeReceiver* SetReceiver(CTranscodeReceiver* next);
  virtual void SetSource(CTranscodeMemConnection* connection, int32_t streamType);
  virtual void Flush() {}

 protected:
  explicit CTranscodeDecoder(CTranscodeNodeObserver* observer) : m_observer(observer) {}

  CTranscodeNodeObserver* m_observer;
  CTranscodeReceiver* m_receiver = nullptr;
};
