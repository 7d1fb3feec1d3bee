// Stream type codes that name a stream's coding to the multiplexer: the demultiplexer node
// chooses them, the multiplexer node passes them on, the multiplexer library writes them.
#pragma once

#include <cstdint>

enum StreamTypeCode : int32_t {
  kStreamTypeMpeg2Video = 3,
  kStreamTypeH264 = 10,
  kStreamTypeMpegAudio = 132,
  kStreamTypeAac = 143,
  kStreamTypeAc3 = 150,
  kStreamTypeDts = 172,
  kStreamTypePcm = 201,
};
