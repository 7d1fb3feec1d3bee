#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include "framework/L2carWrapper.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "pipeline/TranscodeDemuxMKV.h"
#include "pipeline/TranscodeMemConnection.h"
#include "pipeline/TranscodeReceiver.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(AvcConversion, ConfigurationRecordBecomesDelimiterSpsPps) {
  // version, profile, compat, level, 0xFF (4-byte lengths), 1 SPS, SPS, 2 PPS
  const Bytes config = {1, 0x64, 0, 0x1F, 0xFF, 0xE1, 0, 3, 0x67, 0xAA, 0xBB,
                        2, 0, 2, 0x68, 0x01, 0, 1, 0x68};
  Bytes out;
  uint8_t lengthSize = 0;
  ASSERT_TRUE(AvcConfigToStartCodes(config.data(), config.size(), &out, &lengthSize));
  EXPECT_EQ(lengthSize, 4);
  const Bytes expected = {0, 0, 0, 1, 0x09, 0xE0, 0, 0, 0, 1, 0x67, 0xAA, 0xBB,
                          0, 0, 0, 1, 0x68, 0x01, 0, 0, 0, 1, 0x68};
  EXPECT_EQ(out, expected);
  // A record cut inside its parameter sets is refused rather than read past its end.
  EXPECT_FALSE(AvcConfigToStartCodes(config.data(), 9, &out, &lengthSize));
}

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

TEST(AudioConversion, AdtsHeaderFromAudioSpecificConfig) {
  const Bytes config = {0x12, 0x10};  // AAC LC, 44.1 kHz, two channels
  const Bytes frame(100, 0x5A);
  Bytes out;
  ASSERT_TRUE(AacFrameToAdts(frame.data(), frame.size(), config, &out));
  ASSERT_EQ(out.size(), 107u);
  // profile 1, index 4, channels 2, length 107
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 7), (Bytes{0xFF, 0xF9, 0x50, 0x80, 0x0D, 0x7F, 0xFC}));
  EXPECT_FALSE(AacFrameToAdts(frame.data(), frame.size(), Bytes{0x12}, &out));
}

TEST(AudioConversion, Ac3SyncWordOnlyWhenMissing) {
  const std::pair<Bytes, Bytes> cases[] = {{{0x0B, 0x77, 1, 2}, {0x0B, 0x77, 1, 2}},
                                           {{0x77, 0x0B, 1, 2}, {0x77, 0x0B, 1, 2}},
                                           {{1, 2}, {0x0B, 0x77, 1, 2}}};
  for (const auto& [in, expected] : cases) {
    Bytes out;
    Ac3FrameWithSyncWord(in.data(), in.size(), &out);
    EXPECT_EQ(out, expected);
  }
}

// A container of blocks held in memory, in place of the framework.
struct FakeBlock {
  int64_t time;
  bool key;
  Bytes data;
  bool unreadable = false;  // the reader refuses it (a frame that does not inflate) and moves on
};
struct FakeTrack {
  int32_t blockType;
  uint8_t format[48];
  Bytes privateData;
  std::vector<FakeBlock> blocks;
  size_t next = 0;
};

class FakeReader : public L2carWrapper {
 public:
  explicit FakeReader(std::vector<FakeTrack>* tracks) : m_tracks(tracks) {}
  int32_t Init() override { return 0; }
  int32_t Open(const char16_t*) override { return m_open = true, 0; }
  int32_t Close() override { return m_open = false, 0; }
  bool IsOpen() override { return m_open; }
  int32_t SetTitle(int32_t) override { return 0; }

  int32_t GetInfo(uint32_t qid, VmfQueryValue* value, int32_t index) override {
    switch (qid) {
      case VMF_QID_NUM_CONTAINER_TITLE: value->value.i64 = 1; return 0;
      case VMF_QID_TITLE_DURATION: value->value.i64 = 123456789; return 0;
      case VMF_QID_NUM_TITLEMEDIA_VIDEOMEDIA: value->value.i64 = Count(VMF_BLOCK_VIDEO); return 0;
      case VMF_QID_NUM_TITLEMEDIA_AUDIOMEDIA: value->value.i64 = Count(VMF_BLOCK_AUDIO); return 0;
    }
    bool video = qid == VMF_QID_VID_STREAM_FORMAT || qid == VMF_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE ||
                 qid == VMF_QID_VIDEO_CODEC_PRIVATE_DATA;
    FakeTrack* track = Find(video ? VMF_BLOCK_VIDEO : VMF_BLOCK_AUDIO, index);
    if (!track) return -1;
    if (qid == VMF_QID_VID_STREAM_FORMAT || qid == VMF_QID_AUD_STREAM_FORMAT) {
      std::memcpy(value->value.ptr, track->format, 48);
    } else if (qid == VMF_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE ||
               qid == VMF_QID_AUDIO_CODEC_PRIVATE_DATA_SIZE) {
      value->value.i64 = static_cast<int64_t>(track->privateData.size());
    } else {
      std::memcpy(value->value.ptr, track->privateData.data(), track->privateData.size());
    }
    return 0;
  }

  // Video lands on the last key frame at or before the time, audio on the first block after.
  int32_t SetPosition(int32_t blockType, int32_t stream, int64_t* time) override {
    FakeTrack* track = Find(blockType, stream);
    if (!track || failSeek) return -1;
    size_t at = 0;
    for (size_t i = 0; i < track->blocks.size(); ++i) {
      const FakeBlock& block = track->blocks[i];
      if (blockType == VMF_BLOCK_VIDEO ? block.key && block.time <= *time : block.time < *time)
        at = blockType == VMF_BLOCK_VIDEO ? i : i + 1;
    }
    track->next = at;
    if (at < track->blocks.size()) *time = track->blocks[at].time;
    return 0;
  }

  int32_t ReadNextBlockByStream(int32_t blockType, int32_t stream, VmfBlock* block) override {
    FakeTrack* track = Find(blockType, stream);
    if (!track) return -1;
    if (track->next >= track->blocks.size()) return static_cast<int32_t>(VMF_ERR_END_OF_STREAM);
    const FakeBlock& source = track->blocks[track->next];
    if (source.unreadable) return ++track->next, static_cast<int32_t>(VMF_ERR_BLOCK_READ_FAILURE);
    block->size = static_cast<uint32_t>(source.data.size());
    if (block->capacity < source.data.size()) {
      ++shortReads;
      return static_cast<int32_t>(VMF_ERR_BLOCK_BUFFER_TOO_SMALL);
    }
    std::memcpy(block->data, source.data.data(), source.data.size());
    block->time = source.time;
    block->duration = 1000;
    block->flags = source.key ? VMF_BLOCK_FLAG_KEYFRAME : 0;
    ++track->next;
    return 0;
  }

  bool failSeek = false;
  int shortReads = 0;

 private:
  int64_t Count(int32_t blockType) {
    int64_t n = 0;
    for (auto& track : *m_tracks) n += track.blockType == blockType;
    return n;
  }
  FakeTrack* Find(int32_t blockType, int32_t index) {
    for (auto& track : *m_tracks)
      if (track.blockType == blockType && index-- == 0) return &track;
    return nullptr;
  }
  std::vector<FakeTrack>* m_tracks;
  bool m_open = false;
};

struct Delivered {
  int stream;
  int64_t start;
  Bytes data;
};

class Recorder : public CTranscodeReceiver {
 public:
  Recorder(int stream, std::vector<Delivered>* log) : m_stream(stream), m_log(log) {}
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  void Receive(uint8_t* data, uint32_t size, StreamFormatRecord* format) override {
    m_log->push_back({m_stream, format->startTime, Bytes(data, data + size)});
  }

 private:
  int m_stream;
  std::vector<Delivered>* m_log;
};

class Observer : public CTranscodeNodeObserver {
 public:
  void Notify(int32_t code) override { codes.push_back(code); }
  std::vector<int32_t> codes;
};

class DemuxUnderTest : public CTranscodeDemuxMKV {
 public:
  DemuxUnderTest(CTranscodeNodeObserver* observer, std::vector<FakeTrack>* tracks)
      : CTranscodeDemuxMKV(observer), m_tracks(tracks) {}
  L2carWrapper* CreateReader() override { return reader = new FakeReader(m_tracks); }
  FakeReader* reader = nullptr;

 private:
  std::vector<FakeTrack>* m_tracks;
};

FakeTrack VideoTrack(const char* fourcc) {
  FakeTrack track{VMF_BLOCK_VIDEO, {}, {1, 0x64, 0, 0x1F, 0xFF, 0xE1, 0, 1, 0x67, 1, 0, 1, 0x68}, {}};
  std::memcpy(track.format + 24, fourcc, 4);
  for (int i = 0; i < 6; ++i)
    track.blocks.push_back({i * 400000LL, i % 3 == 0, {0, 0, 0, 2, 0x65, static_cast<uint8_t>(i)}});
  return track;
}

FakeTrack AudioTrack(uint16_t formatTag, int64_t offset) {
  FakeTrack track{VMF_BLOCK_AUDIO, {}, {0x12, 0x10}, {}};
  std::memcpy(track.format + 2, &formatTag, 2);
  for (int i = 0; i < 10; ++i)
    track.blocks.push_back({offset + i * 230000LL, true, Bytes(4, static_cast<uint8_t>(i))});
  return track;
}

class DemuxTest : public ::testing::Test {
 protected:
  void Build() {
    demux = new DemuxUnderTest(&observer, &tracks);
    ASSERT_EQ(demux->Open(u"/m/x.mkv"), 0);
    for (int kind = 1; kind <= 2; ++kind)
      for (int i = 0; i < demux->GetStreamCount(kind); ++i) {
        int32_t type = 0;
        CTranscodeMemConnection* connection = demux->GetStream(kind, static_cast<uint8_t>(i), &type);
        ASSERT_NE(connection, nullptr);
        recorders.push_back(std::make_unique<Recorder>(kind * 10 + i, &log));
        connection->SetReceiver(recorders.back().get());
      }
  }
  void TearDown() override {
    if (demux) {
      EXPECT_EQ(demux->Release(), 0);
    }
  }
  int32_t Drain() {
    int32_t result;
    while ((result = demux->Process()) > 0) {
    }
    return result;
  }

  std::vector<FakeTrack> tracks;
  Observer observer;
  DemuxUnderTest* demux = nullptr;
  std::vector<std::unique_ptr<Recorder>> recorders;
  std::vector<Delivered> log;
};

TEST_F(DemuxTest, KeepsH264AndTheAudioTheMultiplexerTakes) {
  tracks = {VideoTrack("H264"), AudioTrack(255, 0), AudioTrack(8193, 0), AudioTrack(1, 0),
            AudioTrack(8192, 0)};
  Build();
  EXPECT_EQ(demux->GetStreamCount(1), 1);
  EXPECT_EQ(demux->GetStreamCount(2), 2);  // AAC and AC-3; DTS and PCM are left out
  int32_t type = 0;
  demux->GetStream(2, 1, &type);
  EXPECT_EQ(type, 150);
  EXPECT_EQ(demux->GetStream(2, 2, &type), nullptr);
  EXPECT_EQ(demux->GetDuration(), 12345);
}

TEST_F(DemuxTest, SeekStartsWithParameterSetsAndAudioFollowsTheKeyFrame) {
  tracks = {VideoTrack("H264"), AudioTrack(255, 0)};
  Build();
  ASSERT_EQ(demux->Seek(140, -1), 0);  // 1,400,000 units: key frame at 1,200,000
  ASSERT_EQ(demux->Process(), 16);      // delimiter, SPS and PPS first
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0].stream, 10);
  EXPECT_EQ(log[0].start, 1200000LL * 27 / 10);
  EXPECT_EQ(Bytes(log[0].data.begin(), log[0].data.begin() + 6), (Bytes{0, 0, 0, 1, 9, 0xE0}));
  EXPECT_EQ(Drain(), 0);
  // Audio from the key frame's time, not the requested one; each stream in time order.
  bool sawAudio = false;
  std::map<int, int64_t> last;
  for (const Delivered& d : log) {
    if (d.stream == 20 && !sawAudio) {
      sawAudio = true;
      EXPECT_EQ(d.start, 1380000LL * 27 / 10);  // first audio block at or after 1,200,000
      EXPECT_EQ(d.data[0], 0xFF);                // with its ADTS header
    }
    EXPECT_GE(d.start, last[d.stream]);
    last[d.stream] = d.start;
  }
  EXPECT_TRUE(sawAudio);
}

TEST_F(DemuxTest, BufferGrowsToWhatTheModuleAsks) {
  tracks = {VideoTrack("H264")};
  tracks[0].blocks[0].data.assign(2 * 1024 * 1024, 0);
  tracks[0].blocks[0].data[3] = 8;  // one NAL unit of 8 bytes, then padding
  Build();
  ASSERT_EQ(demux->Seek(0, -1), 0);
  demux->Process();
  EXPECT_GT(demux->Process(), 0);
  EXPECT_EQ(demux->reader->shortReads, 1);  // grown once, straight to the size asked for
}

// A start at 0 before anything was read needs no seek: a reader that cannot seek still serves
// the file from its first block, video before audio of the same time. A seek elsewhere that
// fails is reported.
TEST_F(DemuxTest, StartAtZeroNeedsNoSeekAndAFailedSeekIsReported) {
  tracks = {VideoTrack("H264"), AudioTrack(255, 0)};
  Build();
  demux->reader->failSeek = true;
  EXPECT_EQ(demux->Seek(0, -1), 0);
  EXPECT_TRUE(observer.codes.empty());
  EXPECT_EQ(demux->Process(), 16);  // the parameter sets, then the first block
  EXPECT_EQ(demux->Process(), 12);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].stream, 10);
  EXPECT_EQ(demux->Seek(140, -1), -1);
  EXPECT_EQ(observer.codes, (std::vector<int32_t>{10}));
  EXPECT_EQ(demux->Seek(-5, -1), -1);
}

// What cannot be served is left out and counted; every stream runs on to its own end, the audio
// past the last picture too.
TEST_F(DemuxTest, WhatCannotBeServedIsLeftOutAndEveryStreamRunsToItsEnd) {
  struct Case {
    const char* what;
    void (*damage)(std::vector<FakeTrack>&);
    size_t pictures, audioFrames;
    uint32_t skipped;
  };
  const Case cases[] = {
      {"nothing", [](std::vector<FakeTrack>&) {}, 6, 10, 0},
      {"a picture of 4 bytes", [](std::vector<FakeTrack>& t) { t[0].blocks[1].data = {0, 0, 0, 0}; }, 5, 10, 1},
      {"an unreadable picture", [](std::vector<FakeTrack>& t) { t[0].blocks[2].unreadable = true; }, 5, 10, 1},
      {"an unreadable audio frame", [](std::vector<FakeTrack>& t) { t[1].blocks[9].unreadable = true; }, 6, 9, 1},
      {"AAC without its configuration", [](std::vector<FakeTrack>& t) { t[1].privateData.clear(); }, 6, 0, 0},
  };
  for (const Case& c : cases) {
    tracks = {VideoTrack("H264"), AudioTrack(255, 100000)};  // audio ends after the last picture
    c.damage(tracks);
    log.clear();
    recorders.clear();
    if (demux) demux->Release();
    Build();
    ASSERT_EQ(demux->Seek(0, -1), 0);
    EXPECT_EQ(Drain(), 0) << c.what;
    size_t pictures = 0, audio = 0;
    for (const Delivered& d : log) (d.stream == 10 ? pictures : audio) += d.stream == 10 ? d.data.size() != 16 : 1;
    EXPECT_EQ(pictures, c.pictures) << c.what;
    EXPECT_EQ(audio, c.audioFrames) << c.what;
    EXPECT_EQ(demux->SkippedSamples(), c.skipped) << c.what;
  }
}

}  // namespace
