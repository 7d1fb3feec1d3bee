// The rasteriser context the SRT read module holds per open file: a plain record whose only
// owned member is the font path chosen for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/subtitles/SubtitleRasteriser.h"

namespace vmf {

// Used when the context names no font.
inline constexpr char kDefaultSubtitleFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct SubtitleRasteriser {
  int32_t reserved[3];    // 0
  int32_t unused;         // -1
  char16_t* fontPath;     // malloc'ed copy, or null for the default font
};
static_assert(offsetof(SubtitleRasteriser, unused) == 12);
static_assert(offsetof(SubtitleRasteriser, fontPath) == 16);
static_assert(sizeof(SubtitleRasteriser) == 16 + sizeof(char16_t*));

}  // namespace vmf
