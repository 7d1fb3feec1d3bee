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

// How Open went. Any failure leaves the node reset; the job refuses such a source (22).
enum DemuxOpenResult : int32_t {
  kDemuxOpened = 0,
  kDemuxNoReader = -1,         // the container wrapper could not be made
  kDemuxUnreadable = -2,       // no name, or no read module opens the file
  kDemuxNoTitle = -3,          // no title, or its duration cannot be read
  kDemuxVideoUncounted = -4,   // the title's video streams cannot be counted
  kDemuxVideoUnreadable = -5,  // a video stream's format or configuration cannot be read
  kDemuxNoH264Video = -6,      // no H.264 video stream to carry
};

class CTranscodeDemuxer : public Stackvale::NetworkStreaming::INetRefCounted {
 public:
  virtual int32_t Open(const char16_t* path) = 0;  // a DemuxOpenResult
  // Wakes every stream's connection so that a blocked writer gives up.
  virtual int32_t Abort() = 0;
  virtual int32_t GetStreamCount(int32_t kind) = 0;  // a DemuxStreamKind
  virtual CTranscodeMemConnection* GetStream(int32_t kind, uint8_t index, int32_t* streamType) = 0;
  virtual int32_t Seek(int64_t startMs, int64_t endMs) = 0;
  virtual int32_t Process() = 0;  // > 0 go on, 0 end of input, < 0 failure
  virtual int64_t GetDuration() = 0;
};
