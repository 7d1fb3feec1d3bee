#include "framework/matroska/MkvFormat.h"

#include <algorithm>
#include <cstring>

#include "framework/matroska/MkvCodecs.h"
#include "framework/VmfErrors.h"

namespace mkv {
namespace {

constexpr uint8_t kAvcProfiles[] = {66, 77, 88, 100, 110, 122, 144};
constexpr uint32_t kBitsPerPixel = 24;
// A stored bitmap header: compression code at byte 16, bit count at byte 14.
constexpr size_t kBitmapHeaderSize = 40;
// A stored wave format header without extra bytes.
constexpr size_t kWaveHeaderSize = 18;

void SetFourcc(char* dst, const char* code) { std::memcpy(dst, code, 4); }

uint32_t Clamp32(uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX)); }

int32_t SetCodes(const MkvTrack& t, MkvVideoFormat* f) {
  switch (t.codecType) {
    case codec::kAvc: {
      if (t.codecPrivate.size() < 2) return VMF_FAILED;
      const uint8_t profile = t.codecPrivate[1];
      if (std::find(std::begin(kAvcProfiles), std::end(kAvcProfiles), profile) == std::end(kAvcProfiles))
        return VMF_FAILED;
      SetFourcc(f->fourcc, "H264");
      SetFourcc(f->fourcc2, "H264");
      return VMF_OK;
    }
    case codec::kMpeg4Sp:
      SetFourcc(f->fourcc, "VEXA");
      SetFourcc(f->fourcc2, "VEXA");
      return VMF_OK;
    case codec::kMpeg4Asp:
    case codec::kMpeg4Ap:
      SetFourcc(f->fourcc, "VEXA");
      SetFourcc(f->fourcc2, "VE50");
      return VMF_OK;
    case codec::kMpeg2:
      SetFourcc(f->fourcc, "MPG2");
      SetFourcc(f->fourcc2, "MPG2");
      return VMF_OK;
    case codec::kVfwFourcc:
      if (t.codecPrivate.empty()) {
        SetFourcc(f->fourcc2, "VE50");
        return VMF_OK;
      }
      if (t.codecPrivate.size() < kBitmapHeaderSize) return VMF_FAILED;
      std::memcpy(f->fourcc, t.codecPrivate.data() + 16, 4);
      std::memcpy(f->fourcc2, t.codecPrivate.data() + 16, 4);
      f->bitsPerPixel = static_cast<uint16_t>(t.codecPrivate[14] | (t.codecPrivate[15] << 8));
      return VMF_OK;
    default:
      return VMF_OK;
  }
}

}  // namespace

int32_t DescribeVideo(const MkvTrack& t, uint8_t* out) {
  if (!CodecOfType(t.codecType).usable || t.codecType == 0) return VMF_ERR_CODEC_UNSUPPORTED;
  if (!t.video.hasPixelWidth || !t.video.hasPixelHeight) return VMF_FAILED;
  MkvVideoFormat f{};
  if (t.hasDefaultDuration) {
    f.frameRateNumerator = 1000000000u;
    f.frameRateDenominator = Clamp32(t.defaultDuration);
  } else {
    f.frameRateNumerator = 0;
    f.frameRateDenominator = 1;
  }
  if (t.video.interlaced && t.video.combineFields && f.frameRateDenominator <= UINT32_MAX / 2)
    f.frameRateDenominator *= 2;
  f.width = Clamp32(t.video.pixelWidth);
  f.height = Clamp32(t.video.pixelHeight);
  f.bitsPerPixel = kBitsPerPixel;
  const int32_t rc = SetCodes(t, &f);
  if (rc != VMF_OK) return rc;
  f.imageSize = Clamp32(uint64_t{f.width} * f.height * f.bitsPerPixel / 8);
  f.interlaced = t.video.interlaced ? 1 : 0;
  if (t.video.hasDisplayWidth) f.displayWidth = Clamp32(t.video.displayWidth);
  if (t.video.hasDisplayHeight) f.displayHeight = Clamp32(t.video.displayHeight);
  std::memcpy(out, &f, sizeof f);
  return VMF_OK;
}

int32_t DescribeAudio(const MkvTrack& t, uint8_t* out) {
  if (t.codecType == codec::kMsAcm) {
    // The codec private data is the wave format header itself.
    if (t.codecPrivate.size() < kWaveHeaderSize) return VMF_FAILED;
    std::memset(out, 0, kFormatSize);
    std::memcpy(out, t.codecPrivate.data(), std::min(t.codecPrivate.size(), kFormatSize));
    return VMF_OK;
  }
  MkvAudioFormat f{};
  f.recordKind = 17;
  const int32_t tag = CodecOfType(t.codecType).waveTag;
  f.formatTag = static_cast<uint16_t>(tag == kNoTag ? 0 : tag);
  f.channels = static_cast<uint16_t>(t.audio.hasChannels ? std::min<uint64_t>(t.audio.channels, 0xFFFF) : 1);
  f.samplesPerSecond = static_cast<uint32_t>(t.audio.samplingFrequency);
  f.bitsPerSample = static_cast<uint16_t>(t.audio.hasBitDepth ? std::min<uint64_t>(t.audio.bitDepth, 0xFFFF) : 0);
  // Only PCM has a fixed frame layout to report.
  if (tag == 0 || tag == 1 || tag == 3) {
    f.blockAlign = static_cast<uint16_t>(f.channels * f.bitsPerSample / 8);
    f.averageBytesPerSecond = f.samplesPerSecond * f.blockAlign;
  }
  const size_t extra = std::min(t.codecPrivate.size(), kAudioExtraMax);
  f.extraSize = static_cast<uint16_t>(extra);
  if (extra != 0) std::memcpy(f.extra, t.codecPrivate.data(), extra);
  std::memcpy(out, &f, sizeof f);
  return VMF_OK;
}

}  // namespace mkv
