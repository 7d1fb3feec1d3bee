// The last node before the sink: turns the encoders' pipe buffers into one output stream.
#pragma once

#include <cstdint>

#include "interfaces/bufstream.h"
#include "interfaces/public/TranscoderInterfaces.h"

class CTranscodeMuxer : public Stackvale::NetworkStreaming::INetRefCounted {
 public:
  virtual void AddStream(bufstream* input, int32_t streamType) = 0;
  virtual int32_t SetOutput(bufstream* output) = 0;  // 0, or -1
  virtual void Close() = 0;
  // The next output continues a stream the host has already read part of (a seek): the
  // multiplexer marks where its counters and clock start afresh. Call before SetOutput.
  virtual void ContinueAnother() {}
};
