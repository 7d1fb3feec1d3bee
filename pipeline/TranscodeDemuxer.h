// The first node of the transport-stream pipeline: reads the source and writes each kept
// stream's samples into that stream's memory connection.
#pragma once

#include <cstdint>

#include "interfaces/public/TranscoderInterfaces.h"

class CTranscodeMemConnection;

// The kinds of stream GetStreamCount and GetStream take.
enum DemuxStreamKind : int32_t {
  kDemuxKindVideo = 1,
  kDemuxKindAudio = 2,
};

class CTranscodeDemuxer : public Stackvale::NetworkStreaming::INetRefCounted {
 public:
  virtual int32_t Open(const char16_t* path) = 0;
  // Wakes every stream's connection so that a blocked writer gives up.
  virtual int32_t Abort() = 0;
  virtual int32_t GetStreamCount(int32_t kind) = 0;  // a DemuxStreamKind
  virtual CTranscodeMemConnection* GetStream(int32_t kind, uint8_t index, int32_t* streamType) = 0;
  virtual int32_t Seek(int64_t startMs, int64_t endMs) = 0;
  virtual int32_t Process() = 0;  // > 0 go on, 0 end of input, < 0 failure
  virtual int64_t GetDuration() = 0;
};
