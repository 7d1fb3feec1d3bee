// The encoder stage: writes each sample and its timing record into its own pipe buffer, whose
// reading face is the multiplexer's input for the stream.
#pragma once

#include <cstdint>

#include "pipeline/TranscodeNodeObserver.h"
#include "pipeline/PipeBuffer.h"
#include "pipeline/TranscodeReceiver.h"
#include "interfaces/bufstream.h"

class CTranscodeEncoder : public CTranscodeReceiver {
 public:
  // Writes the stream type code and answers the reading face (null without a pipe buffer).
  virtual bufstream* GetOutput(int32_t* streamType);
  virtual void Flush() {}

 protected:
  CTranscodeEncoder(CTranscodeNodeObserver* observer, int32_t streamType);

  int32_t m_streamType;
  CTranscodeNodeObserver* m_observer;
  PipeBufferPtr m_pipe;
};
