// The first node of the transport-stream pipeline: reads a Matroska file through the media
// framework, keeps the H.264 video and the audio the multiplexer takes, and writes each sample,
// converted to the form a transport stream carries, into its stream's memory connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "framework/VmfRecords.h"
#include "pipeline/TranscodeNodeObserver.h"
#include "pipeline/TranscodeDemuxer.h"
#include "interfaces/RefCounters.h"
#include "interfaces/StreamTypes.h"

class CTranscodeMemConnection;
class L2carWrapper;

// Audio format tags of the framework's stream descriptions.
enum AudioFormatTag : uint16_t {
  kFormatTagPcm = 1,
  kFormatTagMpeg = 80,
  kFormatTagMp3 = 85,
  kFormatTagAac = 255,
  kFormatTagAc3 = 8192,
  kFormatTagDts = 8193,
};

int32_t StreamTypeForFormatTag(uint16_t formatTag);

// The AVC decoder configuration record as start codes: an access unit delimiter, then every
// SPS and PPS behind 00 00 00 01. Answers false for a record that is cut short.
bool AvcConfigToStartCodes(const uint8_t* config, size_t size, std::vector<uint8_t>* out,
                           uint8_t* nalLengthSize);
// A sample with four-byte lengths converted where it lies: answers the length of its whole
// units, and whether a delimiter must go in front.
size_t AvcSampleToStartCodesInPlace(uint8_t* data, size_t size, bool* needsDelimiter);
// One length-prefixed H.264 access unit as start codes, with a delimiter when it has none.
void AvcSampleToStartCodes(const uint8_t* data, size_t size, uint8_t nalLengthSize,
                           std::vector<uint8_t>* out);
// One raw AAC frame behind its 7-byte ADTS header; false without an AudioSpecificConfig.
bool AacFrameToAdts(const uint8_t* data, size_t size, const std::vector<uint8_t>& config,
                    std::vector<uint8_t>* out);
// One AC-3 frame, given its sync word when it lacks one.
void Ac3FrameWithSyncWord(const uint8_t* data, size_t size, std::vector<uint8_t>* out);

class CTranscodeDemuxMKV : public CTranscodeDemuxer, public CSafetyRefCnt {
 public:
  explicit CTranscodeDemuxMKV(CTranscodeNodeObserver* observer);
  ~CTranscodeDemuxMKV() override;

  int32_t AddRef() override { return SafeAddRef(); }
  int32_t Release() override;
  int32_t Open(const char16_t* path) override;
  int32_t Abort() override;
  int32_t GetStreamCount(int32_t kind) override;
  CTranscodeMemConnection* GetStream(int32_t kind, uint8_t index, int32_t* streamType) override;
  int32_t Seek(int64_t startMs, int64_t endMs) override;
  int32_t Process() override;
  int64_t GetDuration() override { return m_duration; }
  virtual L2carWrapper* CreateReader();
  // Samples left out since Open because they could not be read or converted.
  uint32_t SkippedSamples() const { return m_skipped; }

  static constexpr int32_t kConnectionCapacity = 0x500000;
  static constexpr uint32_t kConnectionChunk = 0x10000;

 private:
  struct Stream {
    int32_t blockType = 0;
    uint8_t format[48] = {};
    int32_t number = 0;
    int32_t streamType = 0;
    std::unique_ptr<CTranscodeMemConnection> connection;
    std::unique_ptr<uint8_t[]> blockData;
    VmfBlock block{};
    std::vector<uint8_t> privateData;
    std::vector<uint8_t> converted;
    bool endOfStream = false;
    uint8_t nalLengthSize = 4;
    bool parameterSetsPending = false;
    // The block record holds a block read ahead at Open, not yet delivered.
    bool blockHeld = false;

    uint16_t FormatTag() const;
  };

  // What one step of reading or pushing a stream came to.
  enum class StepResult {
    kDone,       // a block was read, or a sample written
    kSkipped,    // the block could not be read or converted: left out, counted
    kEnded,      // the stream has no more blocks
    kFailed,     // the node cannot go on
  };

  void Reset();
  int32_t SeekLocked(int64_t startMs);
  void ApplyPendingAbort();
  int32_t OpenVideo();
  bool AddVideoStream(int32_t number);
  bool ParameterSetsInFirstBlock(Stream& stream);
  void AddAudioStream(int32_t number);
  int32_t QueryBuffer(uint32_t qid, int32_t index, void* buffer, uint32_t size);
  int32_t QueryCount(uint32_t qid, int32_t index, int64_t* value);
  Stream* EarliestStream();
  StepResult PushSample(Stream& stream, int32_t* written);
  StepResult ReadBlock(Stream& stream);
  bool Convert(Stream& stream, const uint8_t* data, size_t size);
  // Writes prefix then sample as one sample of the stream, with its timing records.
  StepResult Deliver(Stream& stream, std::span<const uint8_t> prefix, std::span<const uint8_t> sample,
                  int64_t time, int64_t duration, bool keyFrame, int32_t* written);

  CTranscodeNodeObserver* m_observer;
  int32_t m_currentTitle = 0;
  int64_t m_duration = 0;
  L2carWrapper* m_reader = nullptr;
  std::vector<std::unique_ptr<Stream>> m_video;
  std::vector<std::unique_ptr<Stream>> m_audio;
  // Seek and Process hold it for their whole work; Abort never takes it.
  std::mutex m_lock;
  std::atomic<bool> m_abortPending{false};
  // No block has been taken from the reader since Open: a seek to 0 has nothing to move.
  bool m_atStart = true;
  uint32_t m_skipped = 0;
  uint32_t m_badBlocksInARow = 0;
};
