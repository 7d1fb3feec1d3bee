#include "mux/MuxInstance.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace {

constexpr size_t kMaxStreams = 16;
constexpr size_t kMinBufferCap = 2u << 20;
constexpr uint8_t kStreamIdPrivate1 = 0xBD;

bool IsVideoCode(int32_t code) { return code == kStreamTypeH264; }
bool IsAudioCode(int32_t code) { return code == kStreamTypeAac || code == kStreamTypeAc3 || code == kStreamTypeMpegAudio; }

void Print(MuxMp2Instance& mux, const char* text) {
  if (mux.errorPrint) mux.errorPrint("%s", text);
}

}  // namespace

std::vector<MuxStream*> MuxSnapshot(MuxMp2Instance& mux) {
  std::lock_guard held(mux.lock);
  std::vector<MuxStream*> streams;
  for (auto& stream : mux.streams) streams.push_back(stream.get());
  return streams;
}

void MuxCloseInputs(MuxMp2Instance& mux) {
  for (MuxStream* stream : MuxSnapshot(mux)) {
    bufstream* face = stream->input.face;
    face->auxInfo(face, 0, kAuxReaderClosed, nullptr, 0);
  }
}

// Waits for a short while, or until the node calls in (a stream, the finish, the abort).
void MuxNap(MuxMp2Instance& mux, int ms) {
  std::unique_lock held(mux.lock);
  uint32_t seen = mux.calls;
  mux.wake.wait_for(held, std::chrono::milliseconds(ms), [&] { return mux.aborting || mux.calls != seen; });
}

bool MuxAborting(MuxMp2Instance& mux) {
  std::lock_guard held(mux.lock);
  return mux.aborting;
}

void MuxDefaults(MuxMp2Settings& settings, int32_t preset) {
  std::memset(&settings, 0, sizeof settings);
  settings.preset = uint32_t(preset);
  settings.transportStreamId = 1;
  settings.programNumber = 1;
  settings.psiIntervalMs = 80;
  settings.pcrIntervalMs = 20;
  settings.startOffsetMs = 1400;
  settings.maxLeadMs = 500;
  settings.minLeadMs = 20;
  settings.firstVideoPid = 0x100;
  settings.firstAudioPid = 0x101;
  settings.jumpThresholdMs = 1000;
  settings.outputBatchBytes = 348 * kTsPacketSize;
  settings.reorderWindow = 16;
}

bool MuxSettingsAcceptable(const MuxMp2Settings& s) {
  return s.psiIntervalMs >= 10 && s.psiIntervalMs <= 100 && s.pcrIntervalMs >= 5 && s.pcrIntervalMs <= 40 &&
         s.maxLeadMs < 1000 && s.maxLeadMs >= s.minLeadMs + s.pcrIntervalMs && s.startOffsetMs <= 10000 &&
         s.reorderWindow >= 1 && s.reorderWindow <= 64 && s.jumpThresholdMs >= 100 && s.outputBatchBytes > 0 &&
         s.firstVideoPid >= 0x10 && s.firstVideoPid < 0x1FFF && s.firstAudioPid >= 0x10 && s.firstAudioPid < 0x1FFF;
}

MuxMp2Instance* MuxCreate(MuxMp2ResourceFn resources, const MuxMp2Settings& settings) {
  if (!MuxSettingsAcceptable(settings)) return nullptr;
  auto* mux = new (std::nothrow) MuxMp2Instance;
  if (!mux) return nullptr;
  mux->settings = settings;
  mux->writer.slot90 = int64_t(settings.pcrIntervalMs) * 90;
  if (resources) mux->errorPrint = reinterpret_cast<MuxMp2PrintFn>(resources("err_printf"));
  try {
    mux->thread = std::thread(MuxRun, std::ref(*mux));
  } catch (...) {
    delete mux;
    return nullptr;
  }
  return mux;
}

int32_t MuxSetOutput(MuxMp2Instance& mux, const MuxMp2OutputOptions* options, bufstream* output) {
  std::lock_guard held(mux.lock);
  if (!output || mux.output || mux.outputStarted) return 1;
  if (options && options->pmtPid >= 0x10 && options->pmtPid < 0x1FFF) mux.pmtPid = uint16_t(options->pmtPid);
  mux.writer.discontinuityFirst = options && options->continuesAnother;
  mux.output = output;
  return 0;
}

namespace {

bool PidTaken(const MuxMp2Instance& mux, uint32_t pid) {
  if (pid == mux.pmtPid) return true;
  for (const auto& stream : mux.streams)
    if (stream->pid == pid) return true;
  return false;
}

uint8_t NextStreamId(const MuxMp2Instance& mux, int32_t code) {
  if (code == kStreamTypeAc3) return kStreamIdPrivate1;
  uint8_t id = IsVideoCode(code) ? 0xE0 : 0xC0;
  for (const auto& stream : mux.streams)
    if (stream->streamId >= id && stream->streamId < id + 16) id = uint8_t(std::max<int>(id, stream->streamId + 1));
  return id;
}

}  // namespace

int32_t MuxAddStream(MuxMp2Instance& mux, const MuxMp2StreamSettings& settings, bufstream* input) {
  bool video = IsVideoCode(settings.streamType);
  if (!input || (!video && !IsAudioCode(settings.streamType))) {
    Print(mux, "sv_mux_mp2: stream type not supported\n");
    return 1;
  }
  auto stream = std::unique_ptr<MuxStream>(new (std::nothrow) MuxStream);
  if (!stream) return 1;
  std::lock_guard held(mux.lock);
  if (mux.outputStarted || mux.streams.size() >= kMaxStreams) return 1;
  uint32_t pid = settings.pid ? settings.pid : (video ? mux.settings.firstVideoPid : mux.settings.firstAudioPid);
  while (PidTaken(mux, pid) && pid < 0x1FFE) ++pid;
  if (pid >= 0x1FFE || PidTaken(mux, pid)) return 1;
  stream->pid = uint16_t(pid);
  stream->streamId = NextStreamId(mux, settings.streamType);
  MuxInput& in = stream->input;
  in.face = input;
  in.code = settings.streamType;
  in.video = video;
  in.config.offset90 = int64_t(mux.settings.startOffsetMs) * 90;
  in.config.jumpThreshold90 = int64_t(mux.settings.jumpThresholdMs) * 90;
  in.config.reorderWindow = mux.settings.reorderWindow;
  in.config.bufferCap = std::max<size_t>(kMinBufferCap, size_t(settings.rateHintKbps) * 125 * 4);
  mux.streams.push_back(std::move(stream));
  ++mux.calls;
  mux.wake.notify_all();
  return 0;
}

void MuxDone(MuxMp2Instance& mux, int32_t abort) {
  {
    std::lock_guard held(mux.lock);
    if (abort)
      mux.aborting = true;
    else
      mux.finishing = true;
    ++mux.calls;
  }
  mux.wake.notify_all();
  if (mux.thread.joinable()) mux.thread.join();
}

void MuxFree(MuxMp2Instance* mux) {
  if (!mux) return;
  if (mux->thread.joinable()) MuxDone(*mux, 1);
  delete mux;
}
