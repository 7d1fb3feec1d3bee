// Bitmap output of the SRT module: each cue drawn by the subtitle rasteriser for the frame size
// of the stream's format and built into a packet for the display area of that size.
#include <cstdlib>
#include <cstring>

#include "framework/VmfErrors.h"
#include "framework/srt/SrtModule.h"

namespace srt {
namespace {

constexpr size_t kTimeTextBytes = 28;  // "[HH:MM:SS.mmm-HH:MM:SS.mmm]" and its terminator
// The picture handed to the packet builder when a cue draws nothing: the builder places a
// small empty box in any picture of at least this side.
constexpr uint32_t kBlankSide = 20;
constexpr uint8_t kPalette[12] = {0, 0, 0, 0, 0, 0, 254, 254, 254, 254, 254, 254};

bool FrameSizeKnown(const SubtitleFormat& format, vmf::SubtitlePreset* preset) {
  return format.width > 0 && format.height > 0 && format.width <= kSrtMaxFrameSide &&
         format.height <= kSrtMaxFrameSide && vmf::PickSubtitlePreset(format.width, format.height, preset);
}

// The packet of one cue, or the framework result that says why there is none.
int32_t DrawCue(SrtModuleHandle& h, const SrtCue& cue, vmf::SubtitleBytes* packet, uint16_t* length) {
  vmf::SubtitlePreset preset{};
  if (!FrameSizeKnown(h.format, &preset)) return VMF_ERR_BLOCK_READ_FAILURE;
  uint32_t width = static_cast<uint32_t>(h.format.width), height = static_cast<uint32_t>(h.format.height);
  vmf::SubtitleBytes bitmap;
  char timeText[kTimeTextBytes] = {};
  const int check = 0;  // the rasteriser wants it present; it never writes it
  const int32_t rendered =
      vmf::RenderSubtitle(h.rasteriser.get(), h.format.width, h.format.height, &width, &height, &bitmap, &check,
                          timeText, cue.text, static_cast<uint64_t>(cue.start), static_cast<uint64_t>(cue.end));
  if (rendered < 0) return rendered;
  if (rendered == vmf::kSubtitleNoMemory) return VMF_OUT_OF_MEMORY;
  if (rendered != vmf::kSubtitleOk) return VMF_ERR_BLOCK_READ_FAILURE;
  if (!bitmap || width == 0 || height == 0) {
    width = height = kBlankSide;
    bitmap.reset(static_cast<uint8_t*>(std::calloc(kBlankSide * kBlankSide / 2, 1)));
    if (!bitmap) return VMF_OUT_OF_MEMORY;
  }
  if (width > UINT16_MAX || height > UINT16_MAX) return VMF_ERR_BLOCK_READ_FAILURE;
  vmf::SubtitleRecord record{};
  std::memcpy(record.timeText, timeText, sizeof record.timeText);
  record.width = static_cast<uint16_t>(width);
  record.height = static_cast<uint16_t>(height);
  std::memcpy(record.colours, kPalette, sizeof record.colours);
  if (vmf::BuildSubtitlePacket(preset, bitmap.get(), record, length, packet, true) != vmf::kSubtitleOk || !*packet)
    return VMF_ERR_BLOCK_READ_FAILURE;
  return VMF_OK;
}

}  // namespace

int32_t ReadBitmapBlock(SrtModuleHandle& h, VmfBlock* block) {
  SrtCue cue;
  const int32_t next = h.reader->NextCue(&cue.start, &cue.end, cue.text);
  if (next != kSrtOk) return next;
  vmf::SubtitleBytes packet;
  uint16_t length = 0;
  const int32_t drawn = DrawCue(h, cue, &packet, &length);
  if (drawn != VMF_OK) return drawn;
  if (block->capacity < length &&
      (block->enlarge == nullptr || block->enlarge(block, length) != 0 || block->capacity < length)) {
    h.reader->PutBack();  // the caller retries with room for it
    block->size = length;
    return VMF_ERR_BLOCK_BUFFER_TOO_SMALL;
  }
  if (block->data == nullptr) return VMF_ERR_BLOCK_BUFFER_NULL;
  std::memcpy(block->data, packet.get(), length);
  block->size = length;
  block->flags = VMF_BLOCK_FLAG_KEYFRAME;  // every cue stands alone
  block->time = cue.start;
  block->duration = cue.end - cue.start;
  return VMF_OK;
}

}  // namespace srt
