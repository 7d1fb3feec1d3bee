#include "mux/MuxInstance.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace {

constexpr size_t kMaxStreams = 16;
constexpr size_t kMinBufferCap = 8u << 20;
constexpr size_t kOutputHighWater = 1u << 20;   // packets held before the emitter pauses
constexpr int kIdleWaitMinMs = 1;
constexpr int kIdleWaitMaxMs = 20;
constexpr int kOutputWaitMs = 2;
constexpr int kOutputWaitMaxMs = 10;  // a full output (a reader at playback speed) is checked this often
constexpr int64_t kSparseStreamSpan90 = 2 * 90000;

constexpr uint8_t kTsTypeMpeg1Audio = 0x03;
constexpr uint8_t kTsTypeMpeg2Audio = 0x04;
constexpr uint8_t kTsTypeAac = 0x0F;
constexpr uint8_t kTsTypeH264 = 0x1B;
constexpr uint8_t kTsTypeAc3 = 0x81;
constexpr uint8_t kStreamIdPrivate1 = 0xBD;

bool IsVideoCode(int32_t code) { return code == kStreamTypeH264; }
bool IsAudioCode(int32_t code) { return code == kStreamTypeAac || code == kStreamTypeAc3 || code == kStreamTypeMpegAudio; }

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

void Print(MuxMp2Instance& mux, const char* text) {
  if (mux.errorPrint) mux.errorPrint("%s", text);
}

std::vector<MuxStream*> Snapshot(MuxMp2Instance& mux) {
  std::lock_guard held(mux.lock);
  std::vector<MuxStream*> streams;
  for (auto& stream : mux.streams) streams.push_back(stream.get());
  return streams;
}

void CloseInputs(MuxMp2Instance& mux) {
  for (MuxStream* stream : Snapshot(mux)) {
    bufstream* face = stream->input.face;
    face->auxInfo(face, 0, kAuxReaderClosed, nullptr, 0);
  }
}

// Waits for a short while, or until the node calls in (a stream, the finish, the abort).
void Nap(MuxMp2Instance& mux, int ms) {
  std::unique_lock held(mux.lock);
  uint32_t seen = mux.calls;
  mux.wake.wait_for(held, std::chrono::milliseconds(ms), [&] { return mux.aborting || mux.calls != seen; });
}

bool Aborting(MuxMp2Instance& mux) {
  std::lock_guard held(mux.lock);
  return mux.aborting;
}

// ---- output

// Writes what the output has room for; with all set, waits for room until everything is out.
// A refused write ends the instance's output. Answers whether anything was written.
bool FlushOutput(MuxMp2Instance& mux, bool all) {
  std::vector<uint8_t>& out = mux.ts.out;
  size_t written = 0;
  while (written < out.size() && !mux.outputEnded) {
    uint32_t room = mux.output->usableBytes(mux.output);
    if (room == 0) {
      if (!all || Aborting(mux)) break;
      Nap(mux, kOutputWaitMs);
      continue;
    }
    uint32_t n = uint32_t(std::min<size_t>(room, out.size() - written));
    uint32_t put = mux.output->copyBytes(mux.output, out.data() + written, n);
    if (put == 0) mux.outputEnded = true;
    written += put;
  }
  out.erase(out.begin(), out.begin() + ptrdiff_t(written));
  if (mux.outputEnded) out.clear();
  return written > 0;
}

// ---- program tables and clock

uint8_t TsStreamType(const MuxStream& stream) {
  switch (stream.input.code) {
    case kStreamTypeH264:
      return kTsTypeH264;
    case kStreamTypeAac:
      return kTsTypeAac;
    case kStreamTypeAc3:
      return kTsTypeAc3;
    default: {
      // MPEG-1 audio unless the first frame's header says MPEG-2 (lower sampling rates).
      const std::deque<MuxSample>& ready = stream.input.ready;
      if (!ready.empty() && ready.front().bytes.size() >= 2 && (ready.front().bytes[1] & 0x08) == 0)
        return kTsTypeMpeg2Audio;
      return kTsTypeMpeg1Audio;
    }
  }
}

std::vector<TsProgramStream> ProgramStreams(const std::vector<MuxStream*>& streams) {
  std::vector<TsProgramStream> program;
  for (MuxStream* stream : streams)
    program.push_back({stream->pid, TsStreamType(*stream), stream->input.code == kStreamTypeAc3});
  return program;
}

void WriteTables(MuxMp2Instance& mux, const std::vector<MuxStream*>& streams) {
  TsWritePat(mux.ts, uint16_t(mux.settings.transportStreamId), uint16_t(mux.settings.programNumber), mux.pmtPid);
  TsWritePmt(mux.ts, mux.pmtPid, uint16_t(mux.settings.programNumber), mux.pcrPid, ProgramStreams(streams));
  mux.slotsSincePsi = 0;
}

void WriteSlotPcr(MuxMp2Instance& mux, bool discontinuity) {
  TsWritePcr(mux.ts, mux.pcrPid, mux.slot * mux.slot90 * 300, discontinuity);
}

int64_t PsiSlots(const MuxMp2Instance& mux) {
  return std::max<int64_t>(1, mux.settings.psiIntervalMs / mux.settings.pcrIntervalMs);
}

void AdvanceSlot(MuxMp2Instance& mux, const std::vector<MuxStream*>& streams) {
  ++mux.slot;
  WriteSlotPcr(mux, false);
  if (++mux.slotsSincePsi >= PsiSlots(mux)) WriteTables(mux, streams);
}

// The slot in which a PES with this decode time starts.
int64_t TargetSlot(const MuxMp2Instance& mux, int64_t dts) {
  return FloorDiv(dts - int64_t(mux.settings.maxLeadMs) * 90, mux.slot90);
}

// The last slot's bytes get a PCR after them, so that their arrival time is bounded.
void CloseTimeBase(MuxMp2Instance& mux) {
  if (!mux.timeBaseOpen) return;
  ++mux.slot;
  WriteSlotPcr(mux, false);
  mux.timeBaseOpen = false;
}

void OpenTimeBase(MuxMp2Instance& mux, const std::vector<MuxStream*>& streams, const MuxSample& first,
                  bool discontinuity) {
  mux.epoch = first.epoch;
  mux.slot = std::max<int64_t>(0, TargetSlot(mux, first.dts) - 1);
  mux.timeBaseOpen = true;
  WriteTables(mux, streams);
  WriteSlotPcr(mux, discontinuity);
}

// ---- samples

void WriteSample(MuxMp2Instance& mux, const std::vector<MuxStream*>& streams, MuxStream& stream,
                 const MuxSample& sample) {
  if (!mux.timeBaseOpen || sample.epoch != mux.epoch) {
    bool discontinuity = mux.timeBaseOpen || mux.pendingDiscontinuity;
    mux.pendingDiscontinuity = false;
    CloseTimeBase(mux);
    OpenTimeBase(mux, streams, sample, discontinuity);
  }
  for (int64_t target = TargetSlot(mux, sample.dts); mux.slot < target;) AdvanceSlot(mux, streams);
  TsPes pes{};
  pes.pid = stream.pid;
  pes.streamId = stream.streamId;
  pes.hasPts = sample.hasPts;
  pes.pts = sample.pts;
  pes.hasDts = stream.input.video;
  pes.dts = sample.dts;
  pes.randomAccess = sample.randomAccess && stream.input.video;
  pes.boundedLength = !stream.input.video;
  pes.data = sample.bytes.data();
  pes.size = sample.bytes.size();
  TsWritePes(mux.ts, pes);
}

bool Before(const MuxSample& a, const MuxSample& b) {
  return a.epoch != b.epoch ? a.epoch < b.epoch : a.dts < b.dts;
}

// The earliest decode time the pictures a stream holds back for reordering can still take.
bool HeldPicturesBound(const MuxInput& input, int64_t& bound) {
  if (input.reorder.empty() || !input.delayKnown) return false;
  bound = std::min(input.ptsHeap.top() - input.delay, input.reorder.front().pts);
  if (input.dtsSeen) bound = std::max(bound, input.lastDts + 1);
  return true;
}

// A stream with nothing ready holds the others back unless its next sample cannot come before
// the candidate. A stream that holds no data at all gives way once the others hold a long
// stretch beyond the candidate (it is sparse or starts later); any stream gives way when some
// input is so full that waiting could stall the writer.
bool MayGoAhead(const std::vector<MuxStream*>& streams, const MuxSample& candidate, bool finishing) {
  bool full = false, longStretch = false;
  for (MuxStream* stream : streams) {
    const std::deque<MuxSample>& ready = stream->input.ready;
    full |= MuxInputFull(stream->input);
    longStretch |= !ready.empty() && ready.back().epoch == candidate.epoch &&
                   ready.back().dts - candidate.dts > kSparseStreamSpan90;
  }
  for (MuxStream* stream : streams) {
    const MuxInput& input = stream->input;
    if (stream->ended || !input.ready.empty()) continue;
    if (finishing) return false;
    if (input.seenTime && input.epoch > candidate.epoch) continue;
    if (full) continue;
    int64_t bound = 0;
    bool sameEpoch = input.epoch == candidate.epoch;
    if (!input.reorder.empty() || !input.records.empty()) {
      if (sameEpoch && input.records.empty() && HeldPicturesBound(input, bound) && candidate.dts <= bound) continue;
      return false;
    }
    if (input.dtsSeen && sameEpoch && candidate.dts <= input.lastDts) continue;
    if (!longStretch) return false;
  }
  return true;
}

void StartOutput(MuxMp2Instance& mux, const std::vector<MuxStream*>& streams) {
  mux.ts.continuesAnother = mux.pendingDiscontinuity;
  mux.pcrPid = streams.front()->pid;
  if (mux.settings.pcrOnVideo)
    for (MuxStream* stream : streams)
      if (stream->input.video) {
        mux.pcrPid = stream->pid;
        break;
      }
  std::lock_guard held(mux.lock);
  mux.outputStarted = true;
}

bool EmitReady(MuxMp2Instance& mux, const std::vector<MuxStream*>& streams, bool finishing) {
  bool any = false;
  while (mux.ts.out.size() < kOutputHighWater && !mux.outputEnded) {
    MuxStream* next = nullptr;
    for (MuxStream* stream : streams)
      if (!stream->input.ready.empty() && (!next || Before(stream->input.ready.front(), next->input.ready.front())))
        next = stream;
    if (!next || !MayGoAhead(streams, next->input.ready.front(), finishing)) break;
    if (!mux.outputStarted) StartOutput(mux, streams);
    MuxSample sample = MuxInputPop(next->input);
    WriteSample(mux, streams, *next, sample);
    any = true;
    if (mux.ts.out.size() >= mux.settings.outputBatchBytes) FlushOutput(mux, false);
  }
  return any;
}

// ---- the instance's thread

bool PumpInputs(const std::vector<MuxStream*>& streams, bool finishing) {
  bool moved = false;
  for (MuxStream* stream : streams) {
    if (stream->ended) continue;
    moved |= MuxInputPump(stream->input);
    MuxInput& input = stream->input;
    if (finishing && input.face->usableBytes(input.face) == 0 && !MuxInputFull(input)) {
      MuxInputEnd(input);
      stream->ended = true;
      moved = true;
    }
  }
  return moved;
}

bool AllWritten(const std::vector<MuxStream*>& streams) {
  for (MuxStream* stream : streams)
    if (!stream->ended || !stream->input.ready.empty()) return false;
  return true;
}

void Run(MuxMp2Instance& mux) {
  int idleMs = kIdleWaitMinMs;
  for (;;) {
    bool finishing;
    bool hasOutput;
    {
      // The output is attached by the node's thread; once seen under the lock it stays.
      std::lock_guard held(mux.lock);
      if (mux.aborting) break;
      finishing = mux.finishing;
      hasOutput = mux.output != nullptr;
    }
    std::vector<MuxStream*> streams = Snapshot(mux);
    if (!hasOutput || streams.empty()) {
      if (finishing) break;
      Nap(mux, kIdleWaitMaxMs);
      continue;
    }
    bool moved = PumpInputs(streams, finishing);
    moved |= EmitReady(mux, streams, finishing);
    moved |= FlushOutput(mux, false);
    if (mux.outputEnded) break;
    if (finishing && AllWritten(streams)) {
      CloseTimeBase(mux);
      FlushOutput(mux, true);
      break;
    }
    if (moved) {
      idleMs = kIdleWaitMinMs;
      continue;
    }
    // Nothing moved: the inputs are empty or the output is full. Wait a little longer each time.
    Nap(mux, idleMs);
    idleMs = std::min(idleMs * 2, mux.ts.out.empty() ? kIdleWaitMaxMs : kOutputWaitMaxMs);
  }
  CloseInputs(mux);
}

}  // namespace

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
  mux->slot90 = int64_t(settings.pcrIntervalMs) * 90;
  if (resources) mux->errorPrint = reinterpret_cast<MuxMp2PrintFn>(resources("err_printf"));
  try {
    mux->thread = std::thread(Run, std::ref(*mux));
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
  mux.pendingDiscontinuity = options && options->continuesAnother;
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
