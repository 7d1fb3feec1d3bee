// Building a subtitle packet from a 4-bit bitmap: box, padding, fitting, placement, header and
// run-length data.
#include "framework/subtitles/SubtitlePacket.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "framework/subtitles/SubtitleRunLength.h"

namespace vmf {
namespace {

static_assert(std::endian::native == std::endian::little, "the header is written as it lies in memory");

constexpr uint8_t kVisibleTransparency[4] = {0, 255, 255, 255};
constexpr DisplayArea kSmallArea{44, 24, 595, 455, nullptr};
constexpr DisplayArea kMediumArea{64, 48, 895, 671, kVisibleTransparency};
constexpr DisplayArea kLargeArea{0, 64, 1439, 1023, kVisibleTransparency};

// The frame sides each preset answers for: either side matching is enough.
struct PresetRule {
  int32_t width, height;
  SubtitlePreset preset;
};
constexpr PresetRule kPresetRules[] = {
    {960, 720, SubtitlePreset::kMedium},
    {640, 480, SubtitlePreset::kSmall},
    {1440, 1080, SubtitlePreset::kLarge},
};

// The box an empty bitmap falls back to: four columns from 16, stored rows 16 to 19.
constexpr int32_t kEmptyBoxStart = 16;
constexpr int32_t kEmptyBoxSide = 4;
constexpr size_t kTimeTextLength = sizeof(SubtitleRecord::timeText);
constexpr size_t kStopTimeAt = 13;
constexpr uint32_t kLargestPacket = 0xFFFF;

int32_t EvenUp(int32_t v) { return (v + 1) & ~1; }
int32_t EvenDown(int32_t v) { return v & ~1; }
uint16_t Word(int64_t v) { return static_cast<uint16_t>(v); }

SubtitleRecord MakeHeader(const SubtitleRecord& record, const PixelPlane& plane, Placement place,
                          size_t secondFieldOffset) {
  SubtitleRecord h{};
  std::memcpy(h.timeText, record.timeText, kTimeTextLength);
  h.timeText[0] = '[';
  h.timeText[kStopTimeAt] = '-';
  h.timeText[kTimeTextLength - 1] = ']';
  h.width = Word(plane.width);
  h.height = Word(plane.height);
  h.x1 = Word(place.left);
  h.y1 = Word(place.top);
  h.x2 = Word(int64_t{place.left} + plane.width - 1);
  h.y2 = Word(int64_t{place.top} + plane.height - 1);
  h.secondFieldOffset = secondFieldOffset > kLargestPacket ? 0 : Word(static_cast<int64_t>(secondFieldOffset));
  std::memcpy(h.colours, record.colours, sizeof h.colours);
  return h;
}

}  // namespace

bool PickSubtitlePreset(int32_t frameWidth, int32_t frameHeight, SubtitlePreset* preset) {
  for (const PresetRule& rule : kPresetRules) {
    if (frameWidth == rule.width || frameHeight == rule.height) {
      if (preset != nullptr) *preset = rule.preset;
      return true;
    }
  }
  return false;
}

const DisplayArea& AreaOf(SubtitlePreset preset) {
  switch (preset) {
    case SubtitlePreset::kSmall: return kSmallArea;
    case SubtitlePreset::kMedium: return kMediumArea;
    default: return kLargeArea;
  }
}

PixelBox FindEvenBox(const PixelPlane& plane) {
  int64_t left = plane.width, right = -1, top = plane.height, bottom = -1;
  for (uint32_t y = 0; y < plane.height; ++y) {
    for (uint32_t x = 0; x < plane.width; ++x) {
      if (plane.At(x, y) == kPixelClear) continue;
      left = std::min<int64_t>(left, x);
      right = std::max<int64_t>(right, x);
      top = std::min<int64_t>(top, y);
      bottom = std::max<int64_t>(bottom, y);
    }
  }
  if (right < 0) {
    const int32_t topOfStoredRows = static_cast<int32_t>(plane.height) - kEmptyBoxStart - kEmptyBoxSide;
    return PixelBox{kEmptyBoxStart, topOfStoredRows, kEmptyBoxSide, kEmptyBoxSide};
  }
  PixelBox box{static_cast<int32_t>(left), static_cast<int32_t>(top),
               static_cast<int32_t>(right - left + 1), static_cast<int32_t>(bottom - top + 1)};
  box.width &= ~1;  // the last column goes
  if (box.height % 2 != 0) {
    // Rows count as stored, bottom first: the last one is the box's top row.
    ++box.top;
    --box.height;
  }
  return box;
}

PixelPlane CropPadded(const PixelPlane& plane, const PixelBox& box) {
  PixelPlane out(static_cast<uint32_t>(box.width) + 2 * kBoxPadding, static_cast<uint32_t>(box.height));
  for (uint32_t y = 0; y < out.height; ++y) {
    for (int32_t x = 0; x < box.width; ++x) {
      out.Ref(static_cast<uint32_t>(x) + kBoxPadding, y) = plane.At(int64_t{box.left} + x, int64_t{box.top} + y);
    }
  }
  return out;
}

Placement PlaceInArea(const DisplayArea& area, uint32_t width, uint32_t height) {
  const int32_t w = static_cast<int32_t>(width);
  const int32_t x = EvenUp(area.left);
  int32_t left = EvenDown((area.right - w + area.left) / 2);
  if (left < x && x + w <= area.right) left = x;
  if (left + w > area.right && area.right - w > x) left = EvenDown(area.right - w);
  const int32_t top = static_cast<int32_t>(height) > area.bottom ? 0 : area.bottom - static_cast<int32_t>(height);
  return Placement{left, EvenDown(top)};
}

int32_t BuildSubtitlePacket(SubtitlePreset preset, const uint8_t* bitmap, const SubtitleRecord& record,
                            uint16_t* length, SubtitleBytes* packet, bool positionFlag) {
  if (length == nullptr || packet == nullptr) return kSubtitleBadArgument;
  packet->reset();
  if (bitmap == nullptr && FourBitSize(record.width, record.height) != 0) return kSubtitleBadArgument;
  try {
    const PixelPlane plane = UnpackFourBit(bitmap, record.width, record.height);
    const PixelBox box = FindEvenBox(plane);
    const DisplayArea& area = AreaOf(preset);
    PixelPlane padded = CropPadded(plane, box);
    Placement place{EvenUp(std::max(box.left, 0)), EvenUp(std::max(box.top + 1, 0))};
    if (positionFlag) {
      padded = FitIntoArea(std::move(padded), area);
      place = PlaceInArea(area, padded.width, padded.height);
    }
    const RunLengthFields fields = EncodeRunLength(padded);
    const size_t total = fields.data.size() + kPacketOverhead;
    if (total > kLargestPacket) return kSubtitlePacketTooLong;
    SubtitleBytes out(static_cast<uint8_t*>(std::calloc(total, 1)));
    if (!out) return kSubtitleNoMemory;
    const SubtitleRecord header = MakeHeader(record, padded, place, fields.secondFieldOffset);
    uint8_t* at = out.get();
    std::memcpy(at, &header, sizeof header);
    at += sizeof header;
    if (area.transparency != nullptr) {
      std::memcpy(at, area.transparency, 4);
      at += 4;
    }
    if (!fields.data.empty()) std::memcpy(at, fields.data.data(), fields.data.size());
    *length = static_cast<uint16_t>(total);
    *packet = std::move(out);
    return kSubtitleOk;
  } catch (const std::bad_alloc&) {
    return kSubtitleNoMemory;
  }
}

}  // namespace vmf
