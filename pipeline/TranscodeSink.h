// The end of the pipeline: the multiplexer library writes the output stream into it through its
// bufstream record, the host takes it out with Read. While the buffer is full the writer waits,
// and it wakes as soon as the reader has made room. The reader is handed whole transport
// packets, unless its buffer holds less than one.
#pragma once

#include <cstdint>

#include "pipeline/TranscodeNodeObserver.h"
#include "pipeline/TranscodeMemConnection.h"
#include "interfaces/RefCounters.h"
#include "interfaces/public/TranscoderInterfaces.h"

class CTranscodeSink : public CTranscodeMemConnection,
                       public Stackvale::NetworkStreaming::INetRefCounted,
                       public CSafetyRefCnt {
 public:
  explicit CTranscodeSink(CTranscodeNodeObserver* observer);
  ~CTranscodeSink() override;

  // Blocks until data, the end mark or the wake-up. 0 with the count of bytes copied (0 once
  // woken and empty); -1 once per end mark after the data, or for a null argument.
  virtual int32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t* count);
  // Drops what is held and wakes every waiter for good: the reader gets 0 bytes at once and
  // every later write is refused.
  virtual void Reset();
  virtual void SetEndOfStream();

  int32_t AddRef() override { return SafeAddRef(); }
  int32_t Release() override;

  bufstream* WritingFace() { return this; }

 private:
  // How many bytes Read may hand out now: a whole number of transport packets where the
  // buffer lets it, so that a stream cut off by Reset (a seek) ends on a packet boundary.
  uint32_t Portion(uint32_t capacity) const;
  // Moves count held bytes into the reader's buffer; the lock is held.
  void TakeBytes(uint8_t* buffer, uint32_t count);

  CTranscodeNodeObserver* m_observer;
  bool m_end = false;
  uint64_t m_handedOut = 0;  // bytes the reader has taken since the sink was made
};
