// Where a SubRip reader's bytes come from: a plain name is a local regular file (anything else,
// a FIFO or a device, might never end), a URL ("http:", "file:", "nolo:") is read through the
// framework's stream-I/O record of the kind the name calls for.
#pragma once

#include <cstdint>
#include <memory>

namespace srt {

class SrtBytes {
 public:
  virtual ~SrtBytes() = default;
  // Up to `capacity` bytes; *got = 0 at the end. False when the source cannot be read.
  virtual bool Read(uint8_t* buffer, uint32_t capacity, uint32_t* got) = 0;
};

// Null when the name cannot be opened.
std::unique_ptr<SrtBytes> OpenSrtBytes(const char16_t* name);

}  // namespace srt
