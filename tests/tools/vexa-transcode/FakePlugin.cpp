// A plug-in whose transport-stream job is the test job of tests/support, served the way
// VEXA_FAKE_PLUGIN_MODE says: "noisy" prints a notice to its standard output before each read,
// "fail" reports a failure to its listener and ends the stream, "empty" ends the stream at once.
// vexa-transcode's tests load it with --plugin to see how the host program treats each.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/FakeJob.h"

namespace {

// Outlives the transcoder: its prototypes count themselves into it as they go.
FakeJobStats g_stats;

class ModeJob : public FakeJob {
 public:
  explicit ModeJob(NS::ITranscoderJobCallbacks* owner) : FakeJob(owner, false, &g_stats) {}
  bool Read(uint8_t* buffer, uint32_t size, uint32_t* count) override {
    const char* mode = std::getenv("VEXA_FAKE_PLUGIN_MODE");
    *count = 0;
    if (mode && std::string(mode) == "fail") Report(kJobEventFailed);
    if (!mode || std::string(mode) != "noisy") return false;
    std::printf("\n\nTranscoderJob:Notify#%4d\n\n", 10);
    std::fflush(stdout);
    return FakeJob::Read(buffer, size, count);
  }
  NS::ITranscoderJob* MakeJob(NS::ITranscoderJobCallbacks* owner) override { return new ModeJob(owner); }
};

class ModeTranscoder : public CTranscoderImpl {
  void CreateJobPrototypes() override {
    AddPrototype(new FakeJob(JobCallbacks(), true, &g_stats));
    AddPrototype(new ModeJob(JobCallbacks()));
  }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) NS::ITranscoder* LoadTranscoder() {
  auto* transcoder = new ModeTranscoder;
  transcoder->Initialise();
  return transcoder->TranscoderFace();
}
