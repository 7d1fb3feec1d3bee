// Stand-ins at the ends of a pipeline node in the tests: the job that hears its events, and a
// receiver that keeps every sample delivered to it.
#pragma once

#include <string>
#include <vector>

#include "pipeline/TranscodeNodeObserver.h"
#include "pipeline/TranscodeReceiver.h"

struct NodeEvents : CTranscodeNodeObserver {
  void Notify(int32_t code) override { codes.push_back(code); }
  std::vector<int32_t> codes;
};

struct SampleRecorder : CTranscodeReceiver {
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  void Receive(uint8_t* data, uint32_t size, StreamFormatRecord* format) override {
    samples.emplace_back(reinterpret_cast<char*>(data), size);
    starts.push_back(format->startTime);
    privateSizes.push_back(format->privateSize);
  }
  std::vector<std::string> samples;
  std::vector<int64_t> starts;
  std::vector<uint32_t> privateSizes;
};
