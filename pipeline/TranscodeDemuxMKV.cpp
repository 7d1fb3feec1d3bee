#include "pipeline/TranscodeDemuxMKV.h"

#include <cstring>
#include <new>
#include <span>

#include "framework/L2carWrapper.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "interfaces/SampleTimingRecord.h"
#include "interfaces/StreamFormatRecord.h"
#include "pipeline/TranscodeMemConnection.h"

namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
constexpr uint8_t kAccessUnitDelimiter[6] = {0, 0, 0, 1, 0x09, 0xE0};
constexpr uint8_t kNalTypeDelimiter = 0x09;
constexpr uint8_t kAc3SyncWord[2] = {0x0B, 0x77};
constexpr uint8_t kNalTypeMask = 0x1F;
constexpr uint8_t kNalTypeSps = 7;
constexpr uint8_t kNalTypePps = 8;
constexpr uint8_t kAvcConfigVersion = 1;

// What Seek and Process answer at the node's border.
constexpr int32_t kSeekOk = 0;
constexpr int32_t kSeekFailed = -1;
constexpr int32_t kProcessEnd = 0;
constexpr int32_t kProcessGoOn = 1;
constexpr int32_t kProcessFailed = -1;

// The 78-byte record's sample kinds.
constexpr uint32_t kSampleKindKey = 13;
constexpr uint32_t kSampleKindOther = 5;

// Blocks the reader refuses one after another before the source counts as broken: a damaged
// frame is left out, a reader that cannot get past it ends the stream.
constexpr uint32_t kMaxBadBlocksInARow = 64;

// The demultiplexer's own record of each sample; nothing downstream reads it.
struct DemuxSampleRecord {
  uint32_t reserved0;
  uint32_t bytes;       // bytes written
  uint32_t kind;        // 13 for a key frame, else 5
  uint8_t reserved1[16];
  uint8_t start[8];     // 27 MHz, little-endian; not aligned for a 64-bit field
  uint8_t reserved2[42];
};
static_assert(offsetof(DemuxSampleRecord, bytes) == 4);
static_assert(offsetof(DemuxSampleRecord, kind) == 8);
static_assert(offsetof(DemuxSampleRecord, start) == 28);
static_assert(offsetof(DemuxSampleRecord, reserved2) + sizeof(DemuxSampleRecord::reserved2) == 78);
constexpr uint32_t kDemuxSampleRecordSize = 78;

struct AudioTypeRow {
  uint16_t formatTag;
  int32_t streamType;
};
constexpr AudioTypeRow kAudioTypes[] = {
    {kFormatTagPcm, kStreamTypePcm},   {kFormatTagMpeg, kStreamTypeMpegAudio},
    {kFormatTagMp3, kStreamTypeMpegAudio}, {kFormatTagAac, kStreamTypeAac},
    {kFormatTagAc3, kStreamTypeAc3},   {kFormatTagDts, kStreamTypeDts},
};

bool IsKeptAudio(uint16_t formatTag) {
  return formatTag == kFormatTagMpeg || formatTag == kFormatTagMp3 || formatTag == kFormatTagAac ||
         formatTag == kFormatTagAc3;
}

uint32_t ReadLe32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t ReadNalLength(const uint8_t* p, uint8_t lengthSize) {
  uint32_t length = 0;
  for (uint8_t i = 0; i < lengthSize; ++i) length = length << 8 | p[i];
  return length;
}

// Whether a length-prefixed picture holds at least one whole NAL unit with content.
bool HoldsNalUnit(const uint8_t* data, size_t size, uint8_t lengthSize) {
  for (size_t at = 0; at + lengthSize < size;) {
    size_t length = ReadNalLength(data + at, lengthSize);
    if (length > size - at - lengthSize) return false;
    if (length > 0) return true;
    at += lengthSize;
  }
  return false;
}

void Append(std::vector<uint8_t>* out, const uint8_t* data, size_t size) {
  out->insert(out->end(), data, data + size);
}

int64_t To27MHz(int64_t time100ns) { return time100ns * 27 / 10; }

}  // namespace

int32_t StreamTypeForFormatTag(uint16_t formatTag) {
  for (size_t i = std::size(kAudioTypes); i-- > 0;)
    if (kAudioTypes[i].formatTag == formatTag) return kAudioTypes[i].streamType;
  return 0;
}

bool AvcConfigToStartCodes(const uint8_t* config, size_t size, std::vector<uint8_t>* out,
                           uint8_t* nalLengthSize) {
  out->clear();
  if (size < 7) return false;
  *nalLengthSize = static_cast<uint8_t>((config[4] & 3) + 1);
  Append(out, kAccessUnitDelimiter, sizeof kAccessUnitDelimiter);
  size_t at = 6;
  // The SPS count sits in the low five bits of byte 5; the PPS count is a whole byte.
  for (int list = 0; list < 2; ++list) {
    if (at >= size) return false;
    unsigned count = list == 0 ? config[5] & 31 : config[at++];
    for (unsigned i = 0; i < count; ++i) {
      if (at + 2 > size) return false;
      size_t length = static_cast<size_t>(config[at] << 8 | config[at + 1]);
      at += 2;
      if (at + length > size) return false;
      Append(out, kStartCode, sizeof kStartCode);
      Append(out, config + at, length);
      at += length;
    }
  }
  return true;
}

void AvcSampleToStartCodes(const uint8_t* data, size_t size, uint8_t nalLengthSize,
                           std::vector<uint8_t>* out) {
  out->clear();
  if (size > nalLengthSize && data[nalLengthSize] != kNalTypeDelimiter)
    Append(out, kAccessUnitDelimiter, sizeof kAccessUnitDelimiter);
  size_t at = 0;
  while (at + nalLengthSize <= size) {
    size_t length = ReadNalLength(data + at, nalLengthSize);
    if (length > size - at - nalLengthSize) break;  // only whole units are kept
    Append(out, kStartCode, sizeof kStartCode);
    Append(out, data + at + nalLengthSize, length);
    at += nalLengthSize + length;
  }
}

size_t AvcSampleToStartCodesInPlace(uint8_t* data, size_t size, bool* needsDelimiter) {
  *needsDelimiter = size > 4 && data[4] != kNalTypeDelimiter;
  size_t at = 0;
  while (at + 4 <= size) {
    size_t length = ReadNalLength(data + at, 4);
    if (length > size - at - 4) break;  // only whole units are kept
    std::memcpy(data + at, kStartCode, sizeof kStartCode);
    at += 4 + length;
  }
  return at;
}

bool AacFrameToAdts(const uint8_t* data, size_t size, const std::vector<uint8_t>& config,
                    std::vector<uint8_t>* out) {
  out->clear();
  if (config.size() < 2) return false;
  unsigned profile = (config[0] >> 3) - 1u;
  unsigned frequencyIndex = ((config[0] & 7u) << 1) | (config[1] >> 7);
  unsigned channels = (config[1] >> 3) & 15u;
  unsigned length = static_cast<unsigned>((size + 7) & 0xFFFF);
  const uint8_t header[7] = {
      0xFF,
      0xF9,
      static_cast<uint8_t>((profile << 6) | (frequencyIndex << 2) | ((channels >> 2) & 1)),
      static_cast<uint8_t>(((channels & 3) << 6) | ((length >> 11) & 3)),
      static_cast<uint8_t>((length >> 3) & 0xFF),
      static_cast<uint8_t>(((length & 7) << 5) | 0x1F),
      0xFC,
  };
  Append(out, header, sizeof header);
  Append(out, data, size);
  return true;
}

void Ac3FrameWithSyncWord(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
  out->clear();
  bool synced = size >= 2 && ((data[0] == 0x0B && data[1] == 0x77) ||
                              (data[0] == 0x77 && data[1] == 0x0B));
  if (!synced) Append(out, kAc3SyncWord, sizeof kAc3SyncWord);
  Append(out, data, size);
}

uint16_t CTranscodeDemuxMKV::Stream::FormatTag() const { return ReadLe16(format + 2); }

CTranscodeDemuxMKV::CTranscodeDemuxMKV(CTranscodeNodeObserver* observer) : m_observer(observer) {}

CTranscodeDemuxMKV::~CTranscodeDemuxMKV() {
  Reset();
  if (m_reader) m_reader->Release();
}

int32_t CTranscodeDemuxMKV::Release() {
  int32_t count = SafeRelease();
  if (count == 0) delete this;
  return count;
}

L2carWrapper* CTranscodeDemuxMKV::CreateReader() { return new (std::nothrow) L2carWrapper; }

void CTranscodeDemuxMKV::Reset() {
  m_currentTitle = 0;
  m_duration = 0;
  // Connections go before the reader's container: nothing may write into them afterwards.
  while (!m_video.empty()) m_video.pop_back();
  while (!m_audio.empty()) m_audio.pop_back();
  if (m_reader && m_reader->IsOpen()) m_reader->Close();
}

int32_t CTranscodeDemuxMKV::QueryBuffer(uint32_t qid, int32_t index, void* buffer, uint32_t size) {
  VmfQueryValue value{};
  value.size = size;
  value.value.ptr = buffer;
  return m_reader->GetInfo(qid, &value, index);
}

int32_t CTranscodeDemuxMKV::QueryCount(uint32_t qid, int32_t index, int64_t* result) {
  VmfQueryValue value{};
  int32_t status = m_reader->GetInfo(qid, &value, index);
  *result = value.value.i64;
  return status;
}

int32_t CTranscodeDemuxMKV::Open(const char16_t* path) {
  if (!m_reader) {
    m_reader = CreateReader();
    if (!m_reader) return kDemuxNoReader;
    m_reader->Init();
  }
  Reset();
  m_abortPending = false;  // the streams an earlier Abort was meant for are gone
  m_atStart = true;
  m_skipped = 0;
  m_badBlocksInARow = 0;
  if (!path || m_reader->Open(path) != 0) return kDemuxUnreadable;
  int32_t result = OpenVideo();
  if (result != kDemuxOpened) {
    Reset();
    return result;
  }
  int64_t value = 0;
  int32_t audioCount = 0;
  if (QueryCount(VMF_QID_NUM_TITLEMEDIA_AUDIOMEDIA, 0, &value) == 0)
    audioCount = static_cast<int32_t>(value & 0xFFFF);
  for (int32_t j = 0; j < audioCount; ++j) AddAudioStream(j);
  m_atStart = true;  // a block read ahead to look for parameter sets is still held
  return kDemuxOpened;
}

// The title's duration and its H.264 video streams.
int32_t CTranscodeDemuxMKV::OpenVideo() {
  int64_t value = 0;
  if (QueryCount(VMF_QID_NUM_CONTAINER_TITLE, 0, &value) != 0 || (value & 0xFFFF) == 0 ||
      m_reader->SetTitle(0) != 0 || QueryCount(VMF_QID_TITLE_DURATION, 0, &value) != 0)
    return kDemuxNoTitle;
  m_duration = value / 10000;
  if (QueryCount(VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA, 0, &value) != 0) return kDemuxVideoUncounted;
  int32_t videoCount = static_cast<int32_t>(value & 0xFFFF);
  for (int32_t i = 0; i < videoCount; ++i)
    if (!AddVideoStream(i)) return kDemuxVideoUnreadable;
  return m_video.empty() ? kDemuxNoH264Video : kDemuxOpened;
}

// Answers false when a query fails; a stream that is not H.264 is skipped.
bool CTranscodeDemuxMKV::AddVideoStream(int32_t number) {
  auto stream = std::make_unique<Stream>();
  if (QueryBuffer(VMF_QID_VID_STREAM_FORMAT, number, stream->format, sizeof stream->format) != 0)
    return false;
  const uint8_t* fourcc = stream->format + 24;
  if (std::memcmp(fourcc, "H264", 4) != 0 && std::memcmp(fourcc, "h264", 4) != 0) return true;
  stream->blockType = VMF_BLOCK_VIDEO;
  stream->number = number;
  stream->streamType = kStreamTypeH264;

  int64_t privateSize = 0;
  if (QueryCount(VMF_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE, number, &privateSize) != 0) return false;
  std::vector<uint8_t> config(static_cast<uint32_t>(privateSize));
  if (QueryBuffer(VMF_QID_VIDEO_CODEC_PRIVATE_DATA, number, config.data(),
                  static_cast<uint32_t>(config.size())) != 0)
    return false;
  bool parsed = !config.empty() && AvcConfigToStartCodes(config.data(), config.size(),
                                                         &stream->privateData, &stream->nalLengthSize);
  if (!parsed) {
    // Without a usable record the blocks must bring their own parameter sets, else no decoder
    // can use the stream; the length size is then the record's when it can be read.
    stream->privateData.clear();
    stream->nalLengthSize = config.size() > 4 && config[0] == kAvcConfigVersion
                                ? static_cast<uint8_t>((config[4] & 3) + 1)
                                : 4;
    if (!ParameterSetsInFirstBlock(*stream)) return true;
  }
  stream->parameterSetsPending = !stream->privateData.empty();

  StreamFormatRecord format{};
  format.height = ReadLe32(stream->format + 16);
  format.width = ReadLe32(stream->format + 12);
  uint32_t rateNumerator = ReadLe32(stream->format + 4);
  uint32_t rateDenominator = ReadLe32(stream->format + 8);
  format.frameRate = static_cast<double>(rateNumerator) / static_cast<double>(rateDenominator);
  format.privateData = stream->privateData.empty() ? nullptr : stream->privateData.data();
  format.privateSize = static_cast<uint32_t>(stream->privateData.size());
  stream->connection = std::make_unique<CTranscodeMemConnection>(kConnectionCapacity, kConnectionChunk);
  if (!stream->connection->IsUsable()) return false;
  stream->connection->SetFormat(format);
  m_video.push_back(std::move(stream));
  return true;
}

// Reads the stream's first block ahead, keeping it for the first Process, and answers whether
// it carries an SPS and a PPS.
bool CTranscodeDemuxMKV::ParameterSetsInFirstBlock(Stream& stream) {
  if (ReadBlock(stream) != StepResult::kDone) return false;
  stream.blockHeld = true;
  bool sps = false, pps = false;
  const uint8_t* data = stream.block.data;
  size_t size = stream.block.size;
  for (size_t at = 0; at + stream.nalLengthSize < size;) {
    size_t length = ReadNalLength(data + at, stream.nalLengthSize);
    uint8_t type = data[at + stream.nalLengthSize] & kNalTypeMask;
    sps |= type == kNalTypeSps;
    pps |= type == kNalTypePps;
    at += stream.nalLengthSize + length;
  }
  return sps && pps;
}

void CTranscodeDemuxMKV::AddAudioStream(int32_t number) {
  auto stream = std::make_unique<Stream>();
  if (QueryBuffer(VMF_QID_AUD_STREAM_FORMAT, number, stream->format, sizeof stream->format) != 0)
    return;
  if (!IsKeptAudio(stream->FormatTag())) return;
  stream->blockType = VMF_BLOCK_AUDIO;
  stream->number = number;
  stream->streamType = StreamTypeForFormatTag(stream->FormatTag());

  int64_t privateSize = 0;
  if (QueryCount(VMF_QID_AUDIO_CODEC_PRIVATE_DATA_SIZE, number, &privateSize) != 0) return;
  stream->privateData.resize(static_cast<uint32_t>(privateSize));
  if (!stream->privateData.empty() &&
      QueryBuffer(VMF_QID_AUDIO_CODEC_PRIVATE_DATA, number, stream->privateData.data(),
                  static_cast<uint32_t>(stream->privateData.size())) != 0)
    return;
  // No frame of an AAC track without its AudioSpecificConfig can be given an ADTS header.
  std::vector<uint8_t> probe;
  if (stream->FormatTag() == kFormatTagAac && !AacFrameToAdts(nullptr, 0, stream->privateData, &probe))
    return;

  StreamFormatRecord format{};
  format.sampleRate = ReadLe32(stream->format + 8);
  format.byteRate = ReadLe32(stream->format + 12);
  format.channels = static_cast<int16_t>(ReadLe16(stream->format + 4));
  format.privateData = stream->privateData.empty() ? nullptr : stream->privateData.data();
  format.privateSize = static_cast<uint32_t>(stream->privateData.size());
  stream->connection = std::make_unique<CTranscodeMemConnection>(kConnectionCapacity, kConnectionChunk);
  if (!stream->connection->IsUsable()) return;
  stream->connection->SetFormat(format);
  m_audio.push_back(std::move(stream));
}

int32_t CTranscodeDemuxMKV::Abort() {
  // The worker may hold the lock while it waits for room downstream: Abort takes no lock. It
  // wakes the connections so that the waiting writer gives up, and leaves the reset of the
  // streams' positions to the next Seek or Process, which run under the lock.
  m_abortPending = true;
  for (size_t i = m_video.size(); i-- > 0;)
    if (m_video[i]->connection) m_video[i]->connection->Wake();
  for (size_t i = m_audio.size(); i-- > 0;)
    if (m_audio[i]->connection) m_audio[i]->connection->Wake();
  return 0;
}

void CTranscodeDemuxMKV::ApplyPendingAbort() {
  if (!m_abortPending.exchange(false)) return;
  for (size_t i = m_video.size(); i-- > 0;) {
    m_video[i]->parameterSetsPending = !m_video[i]->privateData.empty();
    if (!m_video[i]->blockHeld) m_video[i]->block.time = 0;
  }
  for (size_t i = m_audio.size(); i-- > 0;)
    if (!m_audio[i]->blockHeld) m_audio[i]->block.time = 0;
}

int32_t CTranscodeDemuxMKV::GetStreamCount(int32_t kind) {
  if (kind == kDemuxKindVideo) return static_cast<int32_t>(m_video.size());
  if (kind == kDemuxKindAudio) return static_cast<int32_t>(m_audio.size());
  return 0;
}

CTranscodeMemConnection* CTranscodeDemuxMKV::GetStream(int32_t kind, uint8_t index,
                                                       int32_t* streamType) {
  auto* streams = kind == kDemuxKindVideo ? &m_video : kind == kDemuxKindAudio ? &m_audio : nullptr;
  if (!streams || index >= streams->size()) return nullptr;
  Stream& stream = *(*streams)[index];
  if (streamType) *streamType = stream.streamType;
  return stream.connection.get();
}

int32_t CTranscodeDemuxMKV::Seek(int64_t startMs, int64_t) {
  // The worker holds the lock for a whole sample and may wait inside it for room downstream:
  // the job stops its worker before it moves a running stream.
  std::lock_guard hold(m_lock);
  return SeekLocked(startMs);
}

int32_t CTranscodeDemuxMKV::SeekLocked(int64_t startMs) {
  ApplyPendingAbort();
  int64_t target = startMs * 10000;
  if (!m_reader || !m_reader->IsOpen() || target < 0) return kSeekFailed;
  // Nothing has been read yet: the streams already stand at their first blocks.
  if (target == 0 && m_atStart) {
    for (auto& stream : m_video) stream->parameterSetsPending = !stream->privateData.empty();
    return kSeekOk;
  }
  m_atStart = false;
  // Video first: the audio follows the key frame the video lands on.
  for (size_t i = m_video.size(); i-- > 0;) {
    Stream& stream = *m_video[i];
    int64_t reached = target;
    if (m_reader->SetPosition(VMF_BLOCK_VIDEO, stream.number, &reached) != 0) {
      if (m_observer) m_observer->Notify(kNodeEventSeekFailed);
      return kSeekFailed;
    }
    stream.endOfStream = false;
    stream.blockHeld = false;
    if (reached <= target) target = reached;
    stream.parameterSetsPending = !stream.privateData.empty();
    stream.block.time = target;
  }
  for (size_t i = m_audio.size(); i-- > 0;) {
    Stream& stream = *m_audio[i];
    int64_t reached = target;
    if (m_reader->SetPosition(VMF_BLOCK_AUDIO, stream.number, &reached) != 0) {
      if (m_observer) m_observer->Notify(kNodeEventSeekFailed);
      return kSeekFailed;
    }
    stream.endOfStream = false;
    stream.blockHeld = false;
    stream.block.time = reached;
  }
  return kSeekOk;
}

CTranscodeDemuxMKV::Stream* CTranscodeDemuxMKV::EarliestStream() {
  Stream* chosen = nullptr;
  auto consider = [&](Stream& stream) {
    if (!chosen || static_cast<uint64_t>(stream.block.time) < static_cast<uint64_t>(chosen->block.time))
      chosen = &stream;
  };
  // A stream that has ended waits for no one: the others go on to their own ends.
  for (auto& stream : m_video)
    if (!stream->endOfStream) consider(*stream);
  for (auto& stream : m_audio)
    if (!stream->endOfStream) consider(*stream);
  return chosen;
}

int32_t CTranscodeDemuxMKV::Process() {
  // The choice is made under the lock too: a seek from the host's thread moves the times.
  std::lock_guard hold(m_lock);
  ApplyPendingAbort();
  if (m_video.empty() && m_audio.empty()) return kProcessFailed;
  Stream* stream = EarliestStream();
  if (!stream) return kProcessEnd;
  int32_t written = 0;
  switch (PushSample(*stream, &written)) {
    case StepResult::kDone:
      return written > 0 ? written : kProcessGoOn;
    case StepResult::kSkipped:
    case StepResult::kEnded:
      return EarliestStream() ? kProcessGoOn : kProcessEnd;
    case StepResult::kFailed:
      break;
  }
  return kProcessFailed;
}

// Reads the stream's next block, growing the buffer as the module asks.
CTranscodeDemuxMKV::StepResult CTranscodeDemuxMKV::ReadBlock(Stream& stream) {
  for (;;) {
    stream.block.data = stream.blockData.get();
    int32_t status = m_reader->ReadNextBlockByStream(stream.blockType, stream.number, &stream.block);
    if (status != static_cast<int32_t>(VMF_ERR_BLOCK_BUFFER_TOO_SMALL) && status != VMF_OUT_OF_MEMORY)
      m_atStart = false;
    if (status == 0) {
      m_badBlocksInARow = 0;
      return StepResult::kDone;
    }
    if (status == static_cast<int32_t>(VMF_ERR_END_OF_STREAM)) {
      stream.endOfStream = true;
      return StepResult::kEnded;
    }
    if (status == static_cast<int32_t>(VMF_ERR_DATA_NOT_READY)) return StepResult::kFailed;
    if (status != static_cast<int32_t>(VMF_ERR_BLOCK_BUFFER_TOO_SMALL) && status != VMF_OUT_OF_MEMORY) {
      // A damaged block (a frame that does not inflate, a broken lace) is left out.
      ++m_skipped;
      return ++m_badBlocksInARow > kMaxBadBlocksInARow ? StepResult::kFailed : StepResult::kSkipped;
    }
    uint32_t capacity = stream.block.capacity;
    uint32_t grown = stream.block.size > capacity ? stream.block.size
                                                  : static_cast<uint32_t>(capacity * 1.1);
    if (grown <= capacity) grown = capacity + 4096;  // 1.1 times a tiny buffer is the same size
    stream.blockData.reset();
    stream.blockData.reset(new (std::nothrow) uint8_t[grown]);
    stream.block.capacity = stream.blockData ? grown : 0;
    if (!stream.blockData) return StepResult::kFailed;
  }
}

bool CTranscodeDemuxMKV::Convert(Stream& stream, const uint8_t* data, size_t size) {
  if (stream.blockType == VMF_BLOCK_VIDEO) {
    AvcSampleToStartCodes(data, size, stream.nalLengthSize, &stream.converted);
  } else if (stream.FormatTag() == kFormatTagAac) {
    if (!AacFrameToAdts(data, size, stream.privateData, &stream.converted)) return false;
  } else if (stream.FormatTag() == kFormatTagAc3) {
    Ac3FrameWithSyncWord(data, size, &stream.converted);
  } else {
    stream.converted.assign(data, data + size);
  }
  return !stream.converted.empty();
}

CTranscodeDemuxMKV::StepResult CTranscodeDemuxMKV::PushSample(Stream& stream, int32_t* written) {
  if (stream.endOfStream) return StepResult::kEnded;
  if (stream.parameterSetsPending) {
    stream.parameterSetsPending = false;
    return Deliver(stream, {}, stream.privateData, stream.block.time, 0, true, written);
  }
  if (!stream.blockHeld) {
    StepResult read = ReadBlock(stream);
    if (read != StepResult::kDone) return read;
  }
  stream.blockHeld = false;
  if (stream.blockType == VMF_BLOCK_VIDEO &&
      !HoldsNalUnit(stream.block.data, stream.block.size, stream.nalLengthSize)) {
    ++m_skipped;  // a picture of a few bytes: nothing a decoder could use
    return StepResult::kSkipped;
  }
  bool key = (stream.block.flags & VMF_BLOCK_FLAG_KEYFRAME) != 0;
  if (stream.blockType == VMF_BLOCK_VIDEO && stream.nalLengthSize == 4) {
    // Four-byte lengths become start codes where they stand; the delimiter goes in ahead.
    bool needsDelimiter = false;
    size_t whole = AvcSampleToStartCodesInPlace(stream.block.data, stream.block.size, &needsDelimiter);
    std::span<const uint8_t> delimiter;
    if (needsDelimiter) delimiter = kAccessUnitDelimiter;
    return Deliver(stream, delimiter, {stream.block.data, whole}, stream.block.time,
                   stream.block.duration, key, written);
  }
  if (!Convert(stream, stream.block.data, stream.block.size)) {
    ++m_skipped;
    return StepResult::kSkipped;
  }
  return Deliver(stream, {}, stream.converted, stream.block.time, stream.block.duration, key, written);
}

// A sample that converts to nothing (a picture of a few bytes holding no whole unit) is left out.
CTranscodeDemuxMKV::StepResult CTranscodeDemuxMKV::Deliver(Stream& stream, std::span<const uint8_t> prefix,
                                                          std::span<const uint8_t> sample, int64_t time,
                                                          int64_t duration, bool keyFrame, int32_t* out) {
  if (sample.empty()) {
    ++m_skipped;
    return StepResult::kSkipped;
  }
  CTranscodeMemConnection* connection = stream.connection.get();
  uint32_t written = 0;
  // The connection gathers the pieces into one sample until its timing record arrives.
  for (std::span<const uint8_t> piece : {prefix, sample}) {
    if (piece.empty()) continue;
    uint32_t size = static_cast<uint32_t>(piece.size());
    if (connection->copyBytes(connection, const_cast<uint8_t*>(piece.data()), size) < size)
      return StepResult::kFailed;
    written += size;
  }

  DemuxSampleRecord record{};
  record.bytes = written;
  record.kind = keyFrame ? kSampleKindKey : kSampleKindOther;
  int64_t start27 = static_cast<int64_t>(static_cast<double>(time) / 1e7 * 2.7e7);
  std::memcpy(record.start, &start27, sizeof start27);
  if (connection->auxInfo(connection, 0, kAuxDemuxSample, &record, kDemuxSampleRecordSize) != 0)
    return StepResult::kFailed;

  SampleTimingRecord timing{};
  timing.start = To27MHz(time);
  timing.stop = To27MHz(time + duration - 1);
  timing.size = written;
  timing.present = 1;
  timing.startValid = start27 >= 0 ? 1 : 0;
  if (connection->auxInfo(connection, 0, kAuxSampleTiming, &timing, kSampleTimingRecordSize) != 0)
    return StepResult::kFailed;
  *out = static_cast<int32_t>(written);
  return StepResult::kDone;
}
