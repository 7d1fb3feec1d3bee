// Pattern bytes for the URI-file tests: byte i of every test resource, and a file of them.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/ProcessTestTools.h"

namespace UriFileTest {

// Byte i of every test resource.
inline uint8_t PatternByte(uint64_t i) { return static_cast<uint8_t>((i * 7 + i / 251) & 0xFF); }

inline std::vector<uint8_t> Pattern(uint64_t begin, uint64_t count) {
  std::vector<uint8_t> bytes(count);
  for (uint64_t i = 0; i < count; ++i) bytes[i] = PatternByte(begin + i);
  return bytes;
}

// "data.bin" of `size` pattern bytes in a folder of its own, removed with everything in it.
struct PatternFile {
  explicit PatternFile(uint64_t size) {
    const std::vector<uint8_t> bytes = Pattern(0, size);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), size);
  }
  ProcessTestTools::TempDir folder{"urifile"};
  std::string dir = folder.path().string();
  std::string path = dir + "/data.bin";
};

}  // namespace UriFileTest
