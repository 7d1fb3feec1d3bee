// libFuzzer target: arbitrary bytes as cue text for one of the three presets' frames (picked by
// the first byte), rendered, built into a packet and decoded again by vexa-subrender's decoder:
// the run-length fields must fill the rectangle and end exactly where the packet ends, in the
// preset's layout, and the header's corners must agree with its size.
#include <cstdlib>
#include <string>

#include "tests/framework/subtitles/SubtitleCuePacket.h"
#include "tools/vexa-subrender/PacketPicture.h"

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
  const test::CuePacket c = test::DrawCuePacket(context.get(), text.c_str(), frame.width, frame.height);
  if (c.result == kSubtitlePacketTooLong) return 0;
  Check(c.result == kSubtitleOk && c.packet != nullptr && c.length >= kPacketOverhead);
  subrender::DecodedPacket decoded;
  Check(subrender::DecodeSubtitlePacket(c.packet.get(), c.length, &decoded) == subrender::kPacketOk);
  Check(decoded.hasTransparency == (AreaOf(c.preset).transparency != nullptr));
  const SubtitleRecord& header = decoded.header;
  Check(header.x2 == uint16_t(header.x1 + header.width - 1) && header.y2 == uint16_t(header.y1 + header.height - 1));
  return 0;
}
