// Bitmap output of the SRT module: each cue drawn by the subtitle rasteriser for the frame size
// of the stream's format and built into a packet for the display area of that size.
#include <cstring>

#include "framework/VmfErrors.h"
#include "framework/srt/SrtModule.h"

namespace srt {
namespace {

bool FrameSizeKnown(const SubtitleFormat& format, vmf::SubtitlePreset* preset) {
  return format.width > 0 && format.height > 0 && format.width <= kSrtMaxFrameSide &&
         format.height <= kSrtMaxFrameSide && vmf::PickSubtitlePreset(format.width, format.height, preset);
}

// The packet of one cue, or the framework result that says why there is none.
int32_t DrawCue(SrtModuleHandle& h, const SrtCue& cue, vmf::SubtitleBytes* packet, uint16_t* length) {
  vmf::SubtitlePreset preset{};
  if (!FrameSizeKnown(h.format, &preset)) return VMF_ERR_BLOCK_READ_FAILURE;
  const int32_t rc = vmf::RenderCuePacket(h.rasteriser.get(), static_cast<uint32_t>(h.format.width),
                                          static_cast<uint32_t>(h.format.height), cue.text,
                                          static_cast<uint64_t>(cue.start), static_cast<uint64_t>(cue.end),
                                          preset, packet, length);
  if (rc < 0) return rc;  // the font could not be loaded
  if (rc == vmf::kSubtitleNoMemory) return VMF_OUT_OF_MEMORY;
  if (rc != vmf::kSubtitleOk || !*packet) return VMF_ERR_BLOCK_READ_FAILURE;
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
