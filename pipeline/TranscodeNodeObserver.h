// How pipeline nodes and a job's worker report events to the job that owns them.
#pragma once

#include <cstdint>

enum NodeEvent : int32_t {
  kNodeEventPipelineBroken = 0,  // no demultiplexer, or a demultiplexing step failed
  kNodeEventMuxRefused = 5,      // the multiplexer library refused creation, output or a stream
  kNodeEventEndOfInput = 8,      // the demultiplexer reached the end of its input
  kNodeEventEndDelivered = 9,    // the reader has been handed the end of the stream
  kNodeEventSeekFailed = 10,     // a seek failed
};

class CTranscodeNodeObserver {
 public:
  virtual ~CTranscodeNodeObserver() = default;
  virtual void Notify(int32_t code) = 0;
};
