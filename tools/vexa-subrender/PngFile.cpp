// PNG chunks written by hand; zlib does the compression and the chunk CRCs.
#include "tools/vexa-subrender/PngFile.h"

#include <zlib.h>

#include <cstdio>
#include <memory>

namespace subrender {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint8_t kBitDepth = 8;
constexpr uint8_t kColourTypeRgba = 6;
constexpr uint8_t kFilterNone = 0;
constexpr size_t kBytesPerPixel = 4;

void PutBigEndian(std::vector<uint8_t>* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

// Length, type, data and the CRC of type and data.
void AppendChunk(std::vector<uint8_t>* out, const char type[5], const std::vector<uint8_t>& data) {
  PutBigEndian(out, static_cast<uint32_t>(data.size()));
  const size_t typeAt = out->size();
  out->insert(out->end(), type, type + 4);
  out->insert(out->end(), data.begin(), data.end());
  const uInt covered = static_cast<uInt>(out->size() - typeAt);
  PutBigEndian(out, static_cast<uint32_t>(crc32(0, out->data() + typeAt, covered)));
}

std::vector<uint8_t> HeaderData(const RgbaPicture& picture) {
  std::vector<uint8_t> ihdr;
  PutBigEndian(&ihdr, picture.width);
  PutBigEndian(&ihdr, picture.height);
  // Bit depth, colour type, then compression, filter and interlace methods, all 0.
  for (uint8_t b : {kBitDepth, kColourTypeRgba, uint8_t{0}, uint8_t{0}, uint8_t{0}}) ihdr.push_back(b);
  return ihdr;
}

// Each row behind a filter-type byte, then compressed; empty when zlib refuses.
std::vector<uint8_t> ImageData(const RgbaPicture& picture) {
  const size_t rowBytes = size_t{picture.width} * kBytesPerPixel;
  std::vector<uint8_t> raw;
  raw.reserve((rowBytes + 1) * picture.height);
  for (uint32_t y = 0; y < picture.height; ++y) {
    raw.push_back(kFilterNone);
    const auto row = picture.pixels.begin() + static_cast<ptrdiff_t>(y * rowBytes);
    raw.insert(raw.end(), row, row + static_cast<ptrdiff_t>(rowBytes));
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> packed(size);
  if (compress2(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) != Z_OK)
    return {};
  packed.resize(size);
  return packed;
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

bool WritePng(const std::string& path, const RgbaPicture& picture) {
  const std::vector<uint8_t> idat = ImageData(picture);
  if (idat.empty()) return false;
  std::vector<uint8_t> file(std::begin(kSignature), std::end(kSignature));
  AppendChunk(&file, "IHDR", HeaderData(picture));
  AppendChunk(&file, "IDAT", idat);
  AppendChunk(&file, "IEND", {});
  std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
  if (!f) return false;
  if (std::fwrite(file.data(), 1, file.size(), f.get()) != file.size()) return false;
  return std::fclose(f.release()) == 0;
}

}  // namespace subrender
