// Stands in for the subtitle rasteriser while its library is not part of the tree (see
// CMakeLists.txt): no frame size has a display area and nothing can be drawn, so bitmap output
// answers VMF_ERR_BLOCK_READ_FAILURE; text output is unaffected.
#include "framework/subtitles/SubtitleRasteriser.h"

namespace vmf {

struct SubtitleRasteriser {};

bool PickSubtitlePreset(int32_t, int32_t, SubtitlePreset*) { return false; }
void DestroySubtitleRasteriser(SubtitleRasteriser* context) { delete context; }
int32_t CreateSubtitleRasteriser(const char16_t*, SubtitleRasteriserPtr* context) {
  context->reset(new SubtitleRasteriser);
  return kSubtitleOk;
}
int32_t SetSubtitleFont(SubtitleRasteriser*, const char16_t*) { return kSubtitleNoMemory; }
int32_t RenderSubtitle(SubtitleRasteriser*, int32_t, int32_t, uint32_t*, uint32_t*, SubtitleBytes*, const void*,
                       char*, const char*, uint64_t, uint64_t) {
  return kSubtitleFontFailed;
}
int32_t BuildSubtitlePacket(SubtitlePreset, const uint8_t*, const SubtitleRecord&, uint16_t*, SubtitleBytes*, bool) {
  return kSubtitleNoPreset;
}

}  // namespace vmf
