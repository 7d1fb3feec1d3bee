#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <tuple>
#include <algorithm>
#include <vector>

#include "framework/L2carWrapper.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "pipeline/TranscodeDemuxMKV.h"
#include "pipeline/TranscodeMemConnection.h"
#include "tests/support/NodeStandIns.h"

namespace {

constexpr int32_t kDone = 0, kFailed = -1;  // what Seek and a Process at the end answer
using Bytes = std::vector<uint8_t>;

TEST(AvcConversion, LengthPrefixesBecomeStartCodesForEveryLengthSize) {
  Bytes out;
  // 4-byte lengths, no delimiter: one is put in front; a cut last unit is dropped.
  const Bytes four = {0, 0, 0, 2, 0x65, 0x11, 0, 0, 0, 1, 0x06, 0, 0, 0, 9, 0x41};
  AvcSampleToStartCodes(four.data(), four.size(), 4, &out);
  EXPECT_EQ(out, (Bytes{0, 0, 0, 1, 0x09, 0xE0, 0, 0, 0, 1, 0x65, 0x11, 0, 0, 0, 1, 0x06}));
  // In place: the same units, the delimiter asked for separately, the cut unit left out.
  Bytes inPlace = four;
  bool needsDelimiter = false;
  size_t whole = AvcSampleToStartCodesInPlace(inPlace.data(), inPlace.size(), &needsDelimiter);
  EXPECT_TRUE(needsDelimiter);
  EXPECT_EQ(Bytes(inPlace.begin(), inPlace.begin() + long(whole)), Bytes(out.begin() + 6, out.end()));
  // 2- and 1-byte lengths, with and without a delimiter: each unit gets a 4-byte code.
  const std::tuple<Bytes, uint8_t, Bytes> cases[] = {
      {{0, 2, 0x09, 0xF0, 0, 1, 0x41}, 2, {0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x41}},
      {{1, 0x41}, 1, {0, 0, 0, 1, 0x09, 0xE0, 0, 0, 0, 1, 0x41}}};
  for (const auto& [in, lengthSize, expected] : cases) {
    AvcSampleToStartCodes(in.data(), in.size(), lengthSize, &out);
    EXPECT_EQ(out, expected);
  }
}

// An ADTS header from the AudioSpecificConfig; an AC-3 sync word only where it is missing.
TEST(AudioConversion, AdtsHeaderAndAc3SyncWord) {
  const Bytes config = {0x12, 0x10};  // AAC LC, 44.1 kHz, two channels
  const Bytes frame(100, 0x5A);
  Bytes out;
  ASSERT_TRUE(AacFrameToAdts(frame.data(), frame.size(), config, &out));
  ASSERT_EQ(out.size(), 107u);
  // profile 1, index 4, channels 2, length 107
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 7), (Bytes{0xFF, 0xF9, 0x50, 0x80, 0x0D, 0x7F, 0xFC}));
  EXPECT_FALSE(AacFrameToAdts(frame.data(), frame.size(), Bytes{0x12}, &out));
  const std::pair<Bytes, Bytes> ac3[] = {{{0x0B, 0x77, 1, 2}, {0x0B, 0x77, 1, 2}},
                                         {{0x77, 0x0B, 1, 2}, {0x77, 0x0B, 1, 2}},
                                         {{1, 2}, {0x0B, 0x77, 1, 2}}};
  for (const auto& [in, expected] : ac3) {
    Ac3FrameWithSyncWord(in.data(), in.size(), &out);
    EXPECT_EQ(out, expected);
  }
}

enum class Damage { kNone, kFourBytes, kUnreadable, kOversized };
constexpr uint32_t kOversizedBytes = 1 << 20;

// The framework's reader on the sample file, with faults put in on demand: a seek that fails,
// a damaged or oversized block, an audio track said to be of another coding.
class FaultyReader : public L2carWrapper {
 public:
  int32_t GetInfo(uint32_t qid, VmfQueryValue* value, int32_t index) override {
    int32_t status = L2carWrapper::GetInfo(qid, value, index);
    if (qid == VMF_QID_AUD_STREAM_FORMAT && audioTag) std::memcpy(static_cast<uint8_t*>(value->value.ptr) + 2, &audioTag, 2);
    return status;
  }
  int32_t SetPosition(int32_t blockType, int32_t stream, int64_t* time) override {
    return failSeek ? -1 : L2carWrapper::SetPosition(blockType, stream, time);
  }
  // Counts the buffers offered after a refusal for size that are still smaller than asked.
  int32_t ReadNextBlockByStream(int32_t blockType, int32_t stream, VmfBlock* block) override {
    undersized += asked > block->capacity;
    bool chosen = blockType == damagedType && blocks[blockType] + 1 == damagedBlock;
    if (chosen && damage == Damage::kOversized && block->capacity < kOversizedBytes)
      return block->size = asked = kOversizedBytes, VMF_OUT_OF_MEMORY;
    int32_t status = L2carWrapper::ReadNextBlockByStream(blockType, stream, block);
    asked = status == VMF_OUT_OF_MEMORY ? block->size : 0;
    if (status != 0 || blockType != damagedType || ++blocks[blockType] != damagedBlock || damage == Damage::kOversized)
      return status;
    if (damage == Damage::kUnreadable) return static_cast<int32_t>(VMF_ERR_BLOCK_READ_FAILURE);
    block->size = 4;
    std::memset(block->data, 0, 4);
    return status;
  }

  uint16_t audioTag = 0;
  bool failSeek = false;
  Damage damage = Damage::kNone;
  int32_t damagedType = 0, damagedBlock = 0, undersized = 0;
  uint32_t asked = 0;
  std::map<int32_t, int32_t> blocks;
};

class DemuxUnderTest : public CTranscodeDemuxMKV {
 public:
  explicit DemuxUnderTest(CTranscodeNodeObserver* observer) : CTranscodeDemuxMKV(observer) {}
  L2carWrapper* CreateReader() override { return reader; }
  FaultyReader* reader = new FaultyReader;  // released with the demultiplexer
};

// The sample's streams opened and their samples recorded: [0] its pictures, [1] its audio.
class Demux : public ::testing::Test {
 protected:
  void Open() {
    ASSERT_EQ(demux->Open(sample.c_str()), kDemuxOpened);
    for (int kind : {kDemuxKindVideo, kDemuxKindAudio})
      for (int i = 0; i < demux->GetStreamCount(kind); ++i)
        demux->GetStream(kind, uint8_t(i), nullptr)->SetReceiver(&recorders[kind - 1]);
  }

  std::u16string sample = [] { std::string s = VEXA_SAMPLE_MKV; return std::u16string(s.begin(), s.end()); }();
  void TearDown() override { EXPECT_EQ(demux->Release(), 0); }

  NodeEvents observer;
  DemuxUnderTest* demux = new DemuxUnderTest(&observer);
  SampleRecorder recorders[2];
  std::vector<int64_t>& videoStarts = recorders[0].starts;
  std::vector<int64_t>& audioStarts = recorders[1].starts;
};

TEST_F(Demux, KeepsTheAudioTheMultiplexerTakes) {
  const std::pair<uint16_t, int32_t> cases[] = {{kFormatTagAac, kStreamTypeAac}, {kFormatTagAc3, kStreamTypeAc3},
                                                {kFormatTagMp3, kStreamTypeMpegAudio}, {kFormatTagMpeg, kStreamTypeMpegAudio},
                                                {kFormatTagDts, 0}, {kFormatTagPcm, 0}};
  for (auto [tag, type] : cases) {
    demux->reader->audioTag = tag;
    Open();
    int32_t kept = 0;
    EXPECT_EQ(demux->GetStreamCount(kDemuxKindAudio), type ? 1 : 0) << tag;
    if (type) demux->GetStream(kDemuxKindAudio, 0, &kept);
    EXPECT_EQ(kept, type) << tag;
    EXPECT_EQ(demux->GetStream(kDemuxKindAudio, 1, &kept), nullptr);
  }
  EXPECT_EQ(demux->GetStreamCount(kDemuxKindVideo), 1);
  EXPECT_EQ(demux->GetDuration(), 5021);  // the file's 5.021 s
}

// A start at 0 before anything was read needs no seek: a reader that cannot seek still serves
// the file from its first picture, parameter sets first. A seek elsewhere that fails is reported.
TEST_F(Demux, StartAtZeroNeedsNoSeekAndAFailedSeekIsReported) {
  Open();
  demux->reader->failSeek = true;
  EXPECT_EQ(demux->Seek(0, -1), kDone);
  EXPECT_GT(demux->Process(), 0);
  ASSERT_EQ(videoStarts.size(), 1u);
  EXPECT_TRUE(observer.codes.empty());
  EXPECT_EQ(demux->Seek(1400, -1), kFailed);
  EXPECT_EQ(observer.codes, std::vector<int32_t>{kNodeEventSeekFailed});
  EXPECT_EQ(demux->Seek(-5, -1), kFailed);
}

// What cannot be served is left out and counted; every stream runs on to its own end, the audio
// in time order (pictures come in decoding order). A block longer than the buffer grows it at
// once to the size the reader asks for.
TEST_F(Demux, WhatCannotBeServedIsLeftOutAndEveryStreamRunsToItsEnd) {
  struct Case {
    const char* what;
    int32_t type, block;
    Damage damage;
  };
  const Case cases[] = {{"nothing", 0, 0, Damage::kNone},
                        {"a picture of 4 bytes", VMF_BLOCK_VIDEO, 3, Damage::kFourBytes},
                        {"an unreadable picture", VMF_BLOCK_VIDEO, 5, Damage::kUnreadable},
                        {"an unreadable audio frame", VMF_BLOCK_AUDIO, 9, Damage::kUnreadable},
                        {"a picture larger than the buffer", VMF_BLOCK_VIDEO, 4, Damage::kOversized}};
  size_t whole[2] = {};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    demux->reader->damagedType = c.type, demux->reader->damagedBlock = c.block, demux->reader->damage = c.damage;
    demux->reader->blocks.clear();
    Open();
    for (SampleRecorder& recorder : recorders) recorder = SampleRecorder();
    ASSERT_EQ(demux->Seek(0, -1), kDone);
    int32_t processed;
    while ((processed = demux->Process()) > 0) {
    }
    EXPECT_EQ(processed, kDone);
    if (c.damage == Damage::kNone) whole[0] = videoStarts.size(), whole[1] = audioStarts.size();
    bool lost = c.damage == Damage::kFourBytes || c.damage == Damage::kUnreadable;
    EXPECT_EQ(videoStarts.size(), whole[0] - (lost && c.type == VMF_BLOCK_VIDEO));
    EXPECT_EQ(audioStarts.size(), whole[1] - (lost && c.type == VMF_BLOCK_AUDIO));
    EXPECT_EQ(demux->SkippedSamples(), lost ? 1u : 0u);
    EXPECT_TRUE(std::is_sorted(audioStarts.begin(), audioStarts.end()));
  }
  EXPECT_GT(whole[0], 100u);  // the sample's 5 s of pictures and tone
  EXPECT_GT(whole[1], 200u);
  EXPECT_EQ(demux->reader->undersized, 0);  // grown at once to the size asked for
}

}  // namespace
