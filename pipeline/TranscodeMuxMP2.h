// The transport-stream multiplexer node: one instance of the multiplexer library, whose output
// is the sink's writing face and whose inputs are the encoders' pipe buffers. The node never
// moves media bytes itself.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pipeline/TranscodeNodeObserver.h"
#include "pipeline/MuxMp2Library.h"
#include "pipeline/TranscodeMuxer.h"
#include "interfaces/RefCounters.h"

class CTranscodeMuxMP2 : public CTranscodeMuxer, public CSafetyRefCnt {
 public:
  // libraryPath null loads the multiplexer library from its usual place.
  explicit CTranscodeMuxMP2(CTranscodeNodeObserver* observer, const char* libraryPath = nullptr);
  ~CTranscodeMuxMP2() override;

  int32_t AddRef() override { return SafeAddRef(); }
  int32_t Release() override;
  void AddStream(bufstream* input, int32_t streamType) override;
  int32_t SetOutput(bufstream* output) override;
  void Close() override;
  void ContinueAnother() override { m_continuesAnother = true; }

  // The library's print functions for a name, null for every other name.
  static void* ResourceCallback(const char* name);

 private:
  void Report();
  void Finish(int32_t abort);
  // An input nobody will read is closed, so that its writer never waits for room in vain.
  static void CloseInput(bufstream* input);

  CTranscodeNodeObserver* m_observer;
  MuxMp2Handle m_instance = nullptr;
  bool m_continuesAnother = false;
  std::unique_ptr<MuxMp2Library> m_library;
  std::vector<bufstream*> m_inputs;
};
