// The cue text read as styled characters: UTF-8 decoded to code points, and the formatting
// tags (i, b, u, s, font with color, size and face) taken out and applied to what follows.
#pragma once

#include <string_view>
#include <vector>

#include "framework/subtitles/SubtitleGlyphs.h"

namespace vmf {

// Font sizes a tag may ask for, in pixels; larger or smaller values are held to these.
constexpr uint32_t kSmallestPixelSize = 8;
constexpr uint32_t kLargestPixelSize = 96;

struct StyledChar {
  char32_t code;
  TextStyle style;
};

// Tags are never returned as text; an unknown tag is dropped, and a '<' without a '>' after it
// is text. Text that is not UTF-8 is taken byte by byte as Latin-1, so nothing is lost.
std::vector<StyledChar> ParseSubtitleMarkup(std::string_view text);

}  // namespace vmf
