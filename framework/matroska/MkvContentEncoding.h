#pragma once
// Undoing a track's content compression on one frame.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/matroska/MkvTrack.h"

namespace mkv {

// Largest frame the reader inflates; a frame that would grow past it is refused, so a
// small hostile frame cannot claim the process's memory.
constexpr size_t kMaxInflatedFrame = 64 * 1024 * 1024;

// Appends the frame as the codec sees it to `out` (cleared first): header stripping puts
// the stored bytes in front, zlib inflates (the frame must begin 78 DA, 78 9C or 78 5E),
// bzip2 and LZO give VMF_BAD_DATA, as does zlib data that does not inflate.
int32_t DecodeFrame(const MkvTrack& track, const uint8_t* p, size_t n, std::vector<uint8_t>* out);

// The size of the decoded frame where it is known without decoding, else 0.
size_t DecodedSizeHint(const MkvTrack& track, size_t n);

}  // namespace mkv
