#pragma once
// One track entry as the reader keeps it.
#include <cstdint>
#include <string>
#include <vector>

namespace mkv {

// Matroska track types, and the framework block types they give.
constexpr uint64_t kTrackTypeVideo = 1;
constexpr uint64_t kTrackTypeAudio = 2;
constexpr uint64_t kTrackTypeSubtitle = 0x11;
constexpr int32_t kBlockAudio = 1;
constexpr int32_t kBlockVideo = 2;
constexpr int32_t kBlockSubtitle = 3;

// Content compression as stored in the track: the Matroska algorithm plus 1.
enum class Compression : uint32_t { kNone = 0, kZlib = 1, kBzip2 = 2, kLzo = 3, kHeaderStripping = 4 };

struct TrackReference {
  uint64_t uid = 0;
  uint64_t segmentUid = 0;
  std::string fileName;
};

struct MkvTrack {
  uint64_t number = 0;
  uint64_t type = 0;
  int32_t blockType = 0;     // 0 for tracks the framework does not deliver
  uint32_t streamIndex = 0;  // number among the tracks of its block type
  uint64_t uid = 0;
  double timecodeScale = 1.0;
  uint64_t defaultDuration = 0;  // nanoseconds
  bool hasDefaultDuration = false;
  std::string name;
  std::string language = "eng";
  std::string codecId;
  uint32_t codecType = 0;
  std::string codecName;
  std::vector<uint8_t> codecPrivate;
  std::vector<uint64_t> attachmentLinks;
  Compression compression = Compression::kNone;
  std::vector<uint8_t> compressionSettings;
  TrackReference enhancedTrack;
  TrackReference masterTrack;

  struct Video {
    uint64_t pixelWidth = 0, pixelHeight = 0, displayWidth = 0, displayHeight = 0;
    bool hasPixelWidth = false, hasPixelHeight = false;
    bool hasDisplayWidth = false, hasDisplayHeight = false;
    bool interlaced = false, hasInterlaced = false;
    bool combineFields = false;  // set through SetInfo
  } video;

  struct Audio {
    double samplingFrequency = 8000.0, outputSamplingFrequency = 0.0;
    uint64_t channels = 1, bitDepth = 0;
    bool hasSamplingFrequency = false, hasOutputSamplingFrequency = false;
    bool hasChannels = false, hasBitDepth = false;
  } audio;
};

}  // namespace mkv
