// libFuzzer target: open, the stream descriptions, every frame of every stream, seeks and
// the key-frame searches. Seed it with the fixture corpus (matroska-fixtures/*.mkv).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/matroska/MkvFormat.h"
#include "framework/matroska/MkvReader.h"
#include "framework/VmfErrors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mkv::MkvReader r(std::make_unique<mkv::MkvMemorySource>(std::vector<uint8_t>(data, data + size)));
  if (r.Open() != VMF_OK) return 0;
  std::vector<uint8_t> buffer(4096);
  uint8_t format[mkv::kFormatSize];
  for (int32_t kind = 1; kind <= 3; ++kind) {
    for (uint32_t stream = 0; stream < r.StreamCount(kind); ++stream) {
      if (kind == 2) mkv::DescribeVideo(*r.Stream(kind, stream), format);
      if (kind == 1) mkv::DescribeAudio(*r.Stream(kind, stream), format);
      for (int reads = 0; reads < 100000; ++reads) {
        mkv::FrameInfo info;
        const int32_t rc = r.ReadFrame(kind, stream, buffer.data(), static_cast<uint32_t>(buffer.size()), &info);
        if (rc == VMF_OUT_OF_MEMORY) {
          buffer.resize(info.size);
          continue;
        }
        if (rc != VMF_OK && rc != VMF_BAD_DATA) break;
      }
      int64_t t = 1000000;
      r.Seek(kind, stream, &t);
    }
  }
  int64_t found = 0;
  r.KeyFrameAround(5000000, true, &found);
  r.KeyFrameAround(5000000, false, &found);
  r.Duration();
  return 0;
}
