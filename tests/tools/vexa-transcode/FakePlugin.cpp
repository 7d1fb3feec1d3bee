// A plug-in that offers one transport stream and serves it the way VEXA_FAKE_PLUGIN_MODE says:
// "noisy" prints a notice to its standard output before each read, "fail" reports a failure
// to its listener and ends the stream, "empty" ends the stream at once. vexa-transcode's tests
// load it with --plugin to see how the host program treats each.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "interfaces/public/TranscoderInterfaces.h"

namespace NS = Stackvale::NetworkStreaming;

namespace {

constexpr uint32_t kPacketSize = 188;
constexpr int kNoisyPackets = 4;
constexpr int32_t kEventFailed = 4;

std::string Mode() {
  const char* mode = std::getenv("VEXA_FAKE_PLUGIN_MODE");
  return mode ? mode : "";
}

class FakeJob : public NS::ITranscoderJob {
 public:
  explicit FakeJob(NS::IJobListener* listener) : m_listener(listener) {}
  int32_t AddRef() override { return ++m_count; }
  int32_t Release() override {
    int32_t count = --m_count;
    if (count == 0) delete this;
    return count;
  }
  bool Read(uint8_t* buffer, uint32_t size, uint32_t* count) override {
    *count = 0;
    if (Mode() == "fail" && m_listener) m_listener->OnJobEvent(this, kEventFailed, 0, 0);
    if (Mode() != "noisy" || m_sent == kNoisyPackets || size < kPacketSize) return false;
    std::printf("\n\nTranscoderJob:Notify#%4d\n\n", 10);
    std::fflush(stdout);
    std::memset(buffer, 0xFF, kPacketSize);
    buffer[0] = 0x47;
    *count = kPacketSize;
    ++m_sent;
    return true;
  }
  int32_t Start(int64_t, int64_t) override { return 0; }
  int32_t Stop() override { return 0; }
  int32_t TogglePause() override { return 0; }
  bool Seek(int64_t) override { return true; }
  bool QueryFlag(uint32_t) override { return false; }
  const char16_t* GetSourcePath() override { return u""; }
  int64_t GetDuration() override { return -1; }
  bool IsValid() override { return true; }
  int64_t GetTimestamp() override { return 0; }
  int32_t QueryValue(uint32_t) override { return 0; }
  const char* GetMimeType() override { return "video/MP2T"; }
  const char* GetDlnaProfile() override { return "MPEG_TS_SD_NA"; }
  int32_t Open(NS::IJobListener*, const char16_t*, const char*) override { return 0; }
  int32_t CheckSource(const char16_t*, const char*) override { return 0; }
  NS::ITranscoderJob* MakeJob(NS::ITranscoderJobCallbacks*) override { return nullptr; }
  int64_t GetTranscodedDuration() override { return -1; }
  bool IsAvailable() override { return true; }

 private:
  NS::IJobListener* m_listener;
  std::atomic<int32_t> m_count{1};
  int m_sent = 0;
};

char kName[] = "res@protocolInfo";
char kValue[] = "http-get:*:video/MP2T:*";

class FakeTranscoder : public NS::ITranscoder, public NS::IUpnpTranscoder {
 public:
  void SetHost(NS::ITranscoderHost*) override {}
  int32_t GetUpnpTranscoder(NS::IUpnpTranscoder** out) override {
    *out = this;
    return 0;
  }
  int32_t SetClientProfile(const char*, int32_t) override { return 0; }
  int32_t AddRef() override { return ++m_count; }
  int32_t Release() override {
    int32_t count = --m_count;
    if (count == 0) delete this;
    return count;
  }
  int32_t OfferResources(NS::IClientRequest*, NS::IMediaItem*, NS::ResourceOffer** list,
                         uint32_t* count) override {
    static NS::ResourceAttribute attribute{kName, kValue};
    static NS::ResourceOffer offer{1, &attribute, 1};
    *list = &offer;
    *count = 1;
    return 0;
  }
  void FreeResourceList(NS::ResourceOffer*, uint32_t) override {}
  int32_t CreateJob(const char16_t*, const char*, uint32_t, NS::IJobListener* listener,
                    NS::ITranscoderJob** job) override {
    *job = new FakeJob(listener);
    return 0;
  }

 private:
  std::atomic<int32_t> m_count{1};
};

}  // namespace

extern "C" __attribute__((visibility("default"))) NS::ITranscoder* LoadTranscoder() {
  return new FakeTranscoder;
}
