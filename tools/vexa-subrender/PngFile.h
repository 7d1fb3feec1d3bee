// Writing an RGBA picture as a PNG file: the signature, an IHDR chunk, one IDAT chunk of the
// rows compressed by zlib, and IEND.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace subrender {

// Four bytes per pixel (red, green, blue, alpha), top row first.
struct RgbaPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;

  RgbaPicture() = default;
  RgbaPicture(uint32_t w, uint32_t h) : width(w), height(h), pixels(size_t{w} * h * 4) {}
};

// False when the rows cannot be compressed or the file cannot be written.
bool WritePng(const std::string& path, const RgbaPicture& picture);

}  // namespace subrender
