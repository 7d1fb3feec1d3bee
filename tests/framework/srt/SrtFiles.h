// SubRip files for the tests, written in any of the encodings the reader tells apart.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/files/TextConvert.h"
#include "tests/support/ProcessTestTools.h"

namespace srttest {

enum class Bom { kUtf16Le, kUtf16Be, kUtf8, kNone };

// The UTF-8 text in the given encoding, with its byte-order mark.
inline std::string Encode(const std::string& utf8, Bom bom) {
  if (bom == Bom::kNone) return utf8;
  if (bom == Bom::kUtf8) return "\xEF\xBB\xBF" + utf8;
  std::u16string wide;
  EXPECT_TRUE(VexaFiles::Utf8ToUtf16String(utf8, wide));
  std::string bytes;
  for (char16_t unit : u"\uFEFF" + wide) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += bom == Bom::kUtf16Le ? std::string{low, high} : std::string{high, low};
  }
  return bytes;
}

inline std::u16string WriteSrt(const ProcessTestTools::TempDir& dir, const std::string& name, const std::string& bytes) {
  std::ofstream(dir.path() / name, std::ios::binary) << bytes;
  return dir.Wide(name);
}

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace srttest
