// The bitmap packet of the cue a SubRip file shows at a given time, read through layer 2 of
// the media framework in the SRT module's bitmap output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace subrender {

struct SrtCuePacket {
  std::vector<uint8_t> packet;  // empty when no cue shows at the time
  double start = 0, end = 0;    // the cue's times in seconds
  uint32_t frameWidth = 0, frameHeight = 0;  // the frame the cues are drawn for
  std::string failure;          // the framework error's name when the answer is not 0
};

// Opens `path`, sets the frame size when one is given (0 x 0 keeps the module's), and reads
// packets until the cue showing at `seconds`. Answers 0 or the framework's result.
int32_t FindSrtCuePacket(const std::string& path, double seconds, uint32_t frameWidth, uint32_t frameHeight,
                         SrtCuePacket* out);

}  // namespace subrender
