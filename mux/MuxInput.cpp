#include "mux/MuxInput.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kReadPiece = 256 << 10;

size_t Held(const MuxInput& input) { return input.bytes.size() - input.bytesFront; }

// Copies up to n bytes out of the face. A wrapped tail longer than the face's staging area
// cannot be handed out whole, so the request shrinks until it can.
uint32_t ReadBytes(MuxInput& input, uint32_t n) {
  size_t at = input.bytes.size();
  input.bytes.resize(at + n);
  uint32_t got = 0;
  while (n > 0 && (got = input.face->copyBytes(input.face, input.bytes.data() + at, n)) == 0) n /= 2;
  input.bytes.resize(at + got);
  return got;
}

bool TakeRecords(MuxInput& input) {
  bool any = false;
  SampleTimingRecord record;
  for (;;) {
    std::memset(&record, 0, sizeof record);
    if (input.face->auxInfo(input.face, 0, kAuxTakeSampleTiming, &record, sizeof record) != 0 || !record.present)
      return any;
    input.records.push_back(record);
    any = true;
  }
}

void PushReady(MuxInput& input, MuxSample&& sample) {
  input.readyBytes += sample.bytes.size();
  input.ready.push_back(std::move(sample));
}

// How far decode times must lag the sorted presentation times so that none of the pictures
// held for reordering is decoded after it is presented: the k-th picture in decode order takes
// the k-th smallest presentation time still to come.
int64_t NeededDelay(const MuxInput& input) {
  auto heap = input.ptsHeap;
  int64_t needed = 0;
  for (const MuxSample& s : input.reorder) {
    if (!s.hasPts || heap.empty()) continue;
    needed = std::max(needed, heap.top() - s.pts);
    heap.pop();
  }
  return needed;
}

// Decode times of reordered pictures: the smallest presentation time still to come, moved back
// by the delay. The delay only grows, and grows before a picture that needs it is given its
// time (a deeper pyramid than the stream's first pictures showed), so decode times keep their
// order and never pass presentation times.
void AssignDecodeTime(MuxInput& input) {
  input.delay = std::max(input.delay, NeededDelay(input));
  input.delayKnown = true;
  MuxSample sample = std::move(input.reorder.front());
  input.reorder.pop_front();
  int64_t dts = input.dtsSeen ? input.lastDts : sample.pts;
  if (sample.hasPts) {
    dts = std::min(input.ptsHeap.top() - input.delay, sample.pts);
    input.ptsHeap.pop();
    if (input.dtsSeen && dts <= input.lastDts) dts = input.lastDts + 1;
  }
  sample.dts = dts;
  input.lastDts = dts;
  input.dtsSeen = true;
  PushReady(input, std::move(sample));
}

void FlushReorder(MuxInput& input) {
  while (!input.reorder.empty()) AssignDecodeTime(input);
}

// A source time far from the previous one means the source was re-positioned. So does a short
// step back, which a seek to a nearby key frame gives: audio times never go back, and no
// picture decoded before an IDR picture is presented after it.
void FollowTimeBase(MuxInput& input, const MuxSample& sample) {
  if (!sample.hasPts) return;
  bool jump = sample.pts > input.lastPts + input.config.jumpThreshold90 ||
              sample.pts < input.lastPts - input.config.jumpThreshold90;
  bool stepBack = input.video ? sample.randomAccess && sample.pts <= input.maxPts : sample.pts < input.lastPts;
  bool newTimeBase = input.seenTime && (jump || stepBack);
  if (newTimeBase) {
    FlushReorder(input);
    ++input.epoch;
    input.delayKnown = false;
    input.delay = 0;
    input.dtsSeen = false;
  }
  input.maxPts = input.seenTime && !newTimeBase ? std::max(input.maxPts, sample.pts) : sample.pts;
  input.seenTime = true;
  input.lastPts = sample.pts;
}

void AddSample(MuxInput& input, const SampleTimingRecord& record, const uint8_t* data, size_t size) {
  if (size == 0) return;
  MuxSample sample;
  sample.hasPts = record.startValid != 0;
  sample.pts = sample.hasPts ? record.start / 300 + input.config.offset90 : input.lastPts;
  if (!input.video) {
    FollowTimeBase(input, sample);
    sample.bytes.assign(data, data + size);
    sample.dts = sample.pts;
    sample.epoch = input.epoch;
    sample.randomAccess = true;
    input.lastDts = sample.dts;
    input.dtsSeen = true;
    PushReady(input, std::move(sample));
    return;
  }
  H264AccessUnit unit = H264BuildAccessUnit(input.h264, data, size);
  if (!unit.complete) return;
  sample.randomAccess = unit.idr;
  FollowTimeBase(input, sample);
  sample.bytes = std::move(unit.bytes);
  sample.epoch = input.epoch;
  if (sample.hasPts) input.ptsHeap.push(sample.pts);
  input.reorder.push_back(std::move(sample));
  if (input.reorder.size() > input.config.reorderWindow) AssignDecodeTime(input);
}

bool CutSamples(MuxInput& input) {
  bool any = false;
  while (!input.records.empty() && Held(input) >= input.records.front().size) {
    const SampleTimingRecord record = input.records.front();
    input.records.pop_front();
    AddSample(input, record, input.bytes.data() + input.bytesFront, record.size);
    input.bytesFront += record.size;
    any = true;
  }
  if (input.bytesFront > kReadPiece || input.bytesFront == input.bytes.size()) {
    input.bytes.erase(input.bytes.begin(), input.bytes.begin() + ptrdiff_t(input.bytesFront));
    input.bytesFront = 0;
  }
  return any;
}

}  // namespace

bool MuxInputFull(const MuxInput& input) {
  const size_t held = Held(input);
  // Bytes held that no record closes yet belong to a sample still arriving (its record follows
  // its bytes). When they alone fill the cap, waiting can free nothing: the sample is read to
  // its end, so a picture larger than the cap is carried. Memory stays bounded by that sample.
  const bool cuttable = !input.records.empty() && held >= input.records.front().size;
  if (held >= input.config.bufferCap && !cuttable) return false;
  return held + input.readyBytes >= input.config.bufferCap;
}

// One piece a call at most: the writer gets its turn between pieces, so that the first packets
// leave while later pictures are still arriving. An input that holds no sample at all reads all
// there is: the writer waits on an empty stream only as long as the data decides, never longer
// because a piece was still in the pipe, so that the packets' order does not depend on timing.
bool MuxInputPump(MuxInput& input) {
  bool moved = false;
  for (bool pieceRead = false;;) {
    // Records and cuts first, so that "full" judges the bytes held as they stand: complete
    // samples are cut, and what stays held is the sample still arriving.
    moved |= TakeRecords(input);
    moved |= CutSamples(input);
    bool holdsNothing = input.ready.empty() && input.reorder.empty();
    if ((pieceRead && !holdsNothing) || MuxInputFull(input)) break;
    uint32_t available = input.face->usableBytes(input.face);
    if (available == 0) break;
    uint32_t got = ReadBytes(input, std::min(available, kReadPiece));
    if (got == 0) break;
    input.bytesIn += got;
    moved = pieceRead = true;
  }
  return moved;
}

void MuxInputEnd(MuxInput& input) {
  // A record that claims more bytes than came takes what there is.
  while (!input.records.empty()) {
    SampleTimingRecord record = input.records.front();
    input.records.pop_front();
    record.size = uint32_t(std::min<size_t>(record.size, Held(input)));
    AddSample(input, record, input.bytes.data() + input.bytesFront, record.size);
    input.bytesFront += record.size;
  }
  // Bytes that no record closed still belong to the stream: they form one last sample.
  if (Held(input) > 0) {
    SampleTimingRecord record{};
    record.size = uint32_t(Held(input));
    AddSample(input, record, input.bytes.data() + input.bytesFront, record.size);
    input.bytes.clear();
    input.bytesFront = 0;
  }
  FlushReorder(input);
}

MuxSample MuxInputPop(MuxInput& input) {
  MuxSample sample = std::move(input.ready.front());
  input.ready.pop_front();
  input.readyBytes -= sample.bytes.size();
  return sample;
}
