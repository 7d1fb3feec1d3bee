#include "mux/MuxWriter.h"

#include <algorithm>
#include <chrono>

#include "mux/MuxInstance.h"

namespace {

constexpr size_t kOutputHighWater = 256u << 10;  // packets held before the emitter pauses
constexpr int kIdleWaitMinMs = 1;
constexpr int kIdleWaitMaxMs = 20;
constexpr int kStartingNaps = 200;  // at the shortest pace, before the first packet
constexpr int kOutputWaitMs = 2;
constexpr int kOutputWaitMaxMs = 10;  // a full output (a reader at playback speed) is checked this often
constexpr int64_t kSparseStreamSpan90 = 2 * 90000;

constexpr uint8_t kTsTypeMpeg1Audio = 0x03;
constexpr uint8_t kTsTypeMpeg2Audio = 0x04;
constexpr uint8_t kTsTypeAac = 0x0F;
constexpr uint8_t kTsTypeH264 = 0x1B;
constexpr uint8_t kTsTypeAc3 = 0x81;

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// ---- output

// Writes what the output has room for; with all set, waits for room until everything is out.
// A refused write ends the instance's output. Answers whether anything was written.
// The written packets leave the front of the vector only once they are at least half of it, so
// that an output taking small pieces does not shift the rest down after each one.
bool FlushOutput(MuxMp2Instance& mux, bool all) {
  ByteBuffer& out = mux.writer.ts.out;
  size_t& sent = mux.writer.ts.sent;
  size_t written = sent;
  while (written < out.size() && !mux.writer.outputEnded) {
    uint32_t room = mux.output->usableBytes(mux.output);
    if (room == 0) {
      if (!all || MuxAborting(mux)) break;
      MuxNap(mux, kOutputWaitMs);
      continue;
    }
    uint32_t n = uint32_t(std::min<size_t>(room, out.size() - written));
    uint32_t put = mux.output->copyBytes(mux.output, out.data() + written, n);
    if (put == 0) mux.writer.outputEnded = true;
    written += put;
  }
  bool any = written > sent;
  sent = written;
  if (sent == out.size() || mux.writer.outputEnded) {
    out.clear();
    sent = 0;
  } else if (sent >= out.size() / 2) {
    out.erase(out.begin(), out.begin() + ptrdiff_t(sent));
    sent = 0;
  }
  return any;
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
  TsWritePat(mux.writer.ts, uint16_t(mux.settings.transportStreamId), uint16_t(mux.settings.programNumber), mux.pmtPid);
  TsWritePmt(mux.writer.ts, mux.pmtPid, uint16_t(mux.settings.programNumber), mux.writer.pcrPid, ProgramStreams(streams));
  mux.writer.slotsSincePsi = 0;
}

void WriteSlotPcr(MuxMp2Instance& mux, bool discontinuity) {
  TsWritePcr(mux.writer.ts, mux.writer.pcrPid, mux.writer.slot * mux.writer.slot90 * 300, discontinuity);
}

int64_t PsiSlots(const MuxMp2Instance& mux) {
  return std::max<int64_t>(1, mux.settings.psiIntervalMs / mux.settings.pcrIntervalMs);
}

void AdvanceSlot(MuxMp2Instance& mux, const std::vector<MuxStream*>& streams) {
  ++mux.writer.slot;
  WriteSlotPcr(mux, false);
  if (++mux.writer.slotsSincePsi >= PsiSlots(mux)) WriteTables(mux, streams);
}

// The slot in which a PES with this decode time starts.
int64_t TargetSlot(const MuxMp2Instance& mux, int64_t dts) {
  return FloorDiv(dts - int64_t(mux.settings.maxLeadMs) * 90, mux.writer.slot90);
}

// The last slot's bytes get a PCR after them, so that their arrival time is bounded.
void CloseTimeBase(MuxMp2Instance& mux) {
  if (!mux.writer.timeBaseOpen) return;
  ++mux.writer.slot;
  WriteSlotPcr(mux, false);
  mux.writer.timeBaseOpen = false;
}

void OpenTimeBase(MuxMp2Instance& mux, const std::vector<MuxStream*>& streams, const MuxSample& first,
                  bool discontinuity) {
  mux.writer.epoch = first.epoch;
  mux.writer.slot = std::max<int64_t>(0, TargetSlot(mux, first.dts) - 1);
  mux.writer.timeBaseOpen = true;
  WriteTables(mux, streams);
  WriteSlotPcr(mux, discontinuity);
}

// ---- samples

void WriteSample(MuxMp2Instance& mux, const std::vector<MuxStream*>& streams, MuxStream& stream,
                 const MuxSample& sample) {
  if (!mux.writer.timeBaseOpen || sample.epoch != mux.writer.epoch) {
    bool discontinuity = mux.writer.timeBaseOpen || mux.writer.discontinuityFirst;
    mux.writer.discontinuityFirst = false;
    CloseTimeBase(mux);
    OpenTimeBase(mux, streams, sample, discontinuity);
  }
  for (int64_t target = TargetSlot(mux, sample.dts); mux.writer.slot < target;) AdvanceSlot(mux, streams);
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
  TsWritePes(mux.writer.ts, pes);
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
bool MayGoAhead(const std::vector<MuxStream*>& streams, const MuxStream* candidateStream, bool finishing) {
  const MuxSample& candidate = candidateStream->input.ready.front();
  bool full = false, longStretch = false;
  for (MuxStream* stream : streams) {
    const std::deque<MuxSample>& ready = stream->input.ready;
    full |= MuxInputFull(stream->input);
    longStretch |= !ready.empty() && ready.back().epoch == candidate.epoch &&
                   ready.back().dts - candidate.dts > kSparseStreamSpan90;
  }
  bool afterCandidate = false;  // the stream comes after the candidate's in the writer's order
  for (MuxStream* stream : streams) {
    afterCandidate |= stream == candidateStream;
    const MuxInput& input = stream->input;
    if (stream->ended || !input.ready.empty()) continue;
    if (finishing) return false;
    if (input.seenTime && input.epoch > candidate.epoch) continue;
    if (full) continue;
    int64_t bound = 0;
    bool sameEpoch = input.epoch == candidate.epoch;
    if (!input.reorder.empty() || !input.records.empty()) {
      // On equal times the earlier stream goes first, as it would with the picture ready.
      if (sameEpoch && input.records.empty() && HeldPicturesBound(input, bound) &&
          (afterCandidate ? candidate.dts <= bound : candidate.dts < bound))
        continue;
      return false;
    }
    if (input.dtsSeen && sameEpoch && candidate.dts <= input.lastDts) continue;
    if (!longStretch) return false;
  }
  return true;
}

void StartOutput(MuxMp2Instance& mux, const std::vector<MuxStream*>& streams) {
  mux.writer.ts.continuesAnother = mux.writer.discontinuityFirst;
  mux.writer.pcrPid = streams.front()->pid;
  if (mux.settings.pcrOnVideo)
    for (MuxStream* stream : streams)
      if (stream->input.video) {
        mux.writer.pcrPid = stream->pid;
        break;
      }
  std::lock_guard held(mux.lock);
  mux.outputStarted = true;
}

bool EmitReady(MuxMp2Instance& mux, const std::vector<MuxStream*>& streams, bool finishing) {
  bool any = false;
  while (TsUnsent(mux.writer.ts) < kOutputHighWater && !mux.writer.outputEnded) {
    MuxStream* next = nullptr;
    for (MuxStream* stream : streams)
      if (!stream->input.ready.empty() && (!next || Before(stream->input.ready.front(), next->input.ready.front())))
        next = stream;
    if (!next || !MayGoAhead(streams, next, finishing)) break;
    if (!mux.outputStarted) StartOutput(mux, streams);
    MuxSample sample = MuxInputPop(next->input);
    WriteSample(mux, streams, *next, sample);
    any = true;
    if (TsUnsent(mux.writer.ts) >= mux.settings.outputBatchBytes) FlushOutput(mux, false);
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

}  // namespace

void MuxRun(MuxMp2Instance& mux) {
  int idleMs = kIdleWaitMinMs;
  int startingNaps = 0;
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
    std::vector<MuxStream*> streams = MuxSnapshot(mux);
    if (!hasOutput || streams.empty()) {
      if (finishing) break;
      MuxNap(mux, kIdleWaitMaxMs);
      continue;
    }
    bool moved = PumpInputs(streams, finishing);
    moved |= EmitReady(mux, streams, finishing);
    moved |= FlushOutput(mux, false);
    if (mux.writer.outputEnded) break;
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
    MuxNap(mux, idleMs);
    // Until the first packet is out a client is waiting for it: the first samples are looked
    // for at the shortest pace, for a while (a source that stalls is then waited for slowly).
    if (mux.outputStarted || ++startingNaps > kStartingNaps)
      idleMs = std::min(idleMs * 2, TsUnsent(mux.writer.ts) == 0 ? kIdleWaitMaxMs : kOutputWaitMaxMs);
  }
  MuxCloseInputs(mux);
}

