// What the ASF job's tests share: the encoder setting, stand-in encoders, reading a stream out.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "jobs/TranscodeJobASF.h"
#include "tests/platform/process/ProcessTestTools.h"

namespace AsfTestTools {

using ProcessTestTools::Wide;

// The encoder setting of the media server, kept in settings folders of the test's own.
class EncoderSetting {
 public:
  EncoderSetting() { Clear(); }
  ~EncoderSetting() { Clear(); }
  void Set(const std::string& path) { ::setenv("VEXA_ASF_DEV_ENCODER", path.c_str(), 1); }
  void Clear() { ::unsetenv("VEXA_ASF_DEV_ENCODER"); }
};

// An owner that records requests and can answer them.
class FakeOwner : public NS::ITranscoderJobCallbacks {
 public:
  void OnJobReleased(NS::ITranscoderJob*) override { ++released; }
  int32_t ForwardRequest(NS::ITranscoderJob*, int32_t code) override {
    ++requests;
    lastCode = code;
    if (onRequest) onRequest();
    return answer;
  }
  int released = 0;
  int requests = 0;
  int32_t lastCode = 0;
  int32_t answer = 1;
  std::function<void()> onRequest;
};

// Reads the job's stream until Read answers false; gives up after limit bytes.
inline std::string ReadStream(NS::ITranscoderJob& job, size_t limit = 64u << 20) {
  std::string all;
  uint8_t buffer[65536];
  uint32_t count = 0;
  while (all.size() < limit && job.Read(buffer, sizeof buffer, &count))
    all.append(reinterpret_cast<char*>(buffer), count);
  return all;
}

// The standard banner of a stand-in encoder: its own name, the source it reads (argument 4)
// and a duration line.
inline std::string Banner(const std::string& duration) {
  return "printf 'stand-in encoder\\nInput #0, matroska,webm, from '\\''%s'\\'':\\n' \"$4\" >&2\n"
         "printf '  Duration: " + duration + ", start: 0.000000, bitrate: 64 kb/s\\n' >&2\n";
}

// A stand-in encoder in dir: notes its process id in dir/pid, then runs body.
inline std::string StandIn(const std::string& dir, const std::string& body) {
  return ProcessTestTools::WriteScript(dir, "encoder", "echo $$ > \"${0%/*}/pid\"\n" + body);
}

}  // namespace AsfTestTools
