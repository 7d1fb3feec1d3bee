// A node that takes complete samples from the node before it.
#pragma once

#include <cstdint>

#include "interfaces/StreamFormatRecord.h"
#include "interfaces/public/TranscoderInterfaces.h"

class CTranscodeReceiver : public Stackvale::NetworkStreaming::INetRefCounted {
 public:
  // Hands one complete sample on; format->startTime is the sample's 27 MHz start.
  virtual void Receive(uint8_t* data, uint32_t size, StreamFormatRecord* format) = 0;
};
