// libFuzzer target: arbitrary bytes as cue text for one of the three presets' frames (picked by
// the first byte), rendered, built into a packet and decoded again; the packet's header must
// agree with its length and its run-length fields must fill the rectangle and end exactly
// where the packet ends.
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/subtitles/SubtitlePacket.h"
#include "tests/framework/subtitles/SubtitleRunRows.h"

namespace {

struct FrameSize {
  int32_t width, height;
};
constexpr FrameSize kFrames[] = {{640, 480}, {960, 720}, {1440, 1080}};

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vmf;
  if (size == 0) return 0;
  const FrameSize frame = kFrames[data[0] % std::size(kFrames)];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);  // a NUL ends the copy
  static SubtitleRasteriserPtr context;
  if (!context && CreateSubtitleRasteriser(nullptr, &context) != kSubtitleOk) std::abort();
  uint32_t width = static_cast<uint32_t>(frame.width), height = static_cast<uint32_t>(frame.height);
  SubtitleBytes bitmap;
  char timeText[kTimeTextSize];
  Check(RenderSubtitle(context.get(), frame.width, frame.height, &width, &height, &bitmap, &frame, timeText,
                       text.c_str(), 0, 1) == kSubtitleOk);
  SubtitlePreset preset{};
  Check(PickSubtitlePreset(frame.width, frame.height, &preset));
  SubtitleRecord record{};
  std::memcpy(record.timeText, timeText, sizeof record.timeText);
  record.width = static_cast<uint16_t>(width);
  record.height = static_cast<uint16_t>(height);
  uint16_t length = 0;
  SubtitleBytes packet;
  if (BuildSubtitlePacket(preset, bitmap.get(), record, &length, &packet, true) == kSubtitlePacketTooLong) return 0;
  Check(packet != nullptr && length >= kPacketOverhead);
  SubtitleRecord header;
  std::memcpy(&header, packet.get(), sizeof header);
  Check(header.x2 == uint16_t(header.x1 + header.width - 1) && header.y2 == uint16_t(header.y1 + header.height - 1));
  const size_t start = sizeof header + (AreaOf(preset).transparency != nullptr ? 4 : 0);
  PixelPlane plane(header.width, header.height);
  Check(test::FieldsFitExactly(packet.get() + start, length - kPacketOverhead, &plane, header.secondFieldOffset));
  return 0;
}
