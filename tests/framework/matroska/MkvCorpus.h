#pragma once
// The fixture corpus built at test time with FFmpeg and mkvmerge, and the reading loops every
// reader test shares.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/VmfErrors.h"
#include "framework/matroska/MkvReader.h"

namespace mkvtest {

inline std::string CorpusDir() { return std::string(VEXA_BINARY_DIR) + "/matroska-fixtures"; }

// Builds the corpus once per build directory; false when the tools failed.
inline bool BuildCorpus() {
  const std::string cmd = "sh " + std::string(VEXA_SOURCE_DIR) +
                          "/tests/framework/matroska/make_fixtures.sh " + CorpusDir();
  return std::system(cmd.c_str()) == 0;
}

// A reader over `bytes`, opened.
inline std::unique_ptr<mkv::MkvReader> Open(std::vector<uint8_t> bytes) {
  auto r = std::make_unique<mkv::MkvReader>(std::make_unique<mkv::MkvMemorySource>(std::move(bytes)));
  EXPECT_EQ(r->Open(), VMF_OK);
  return r;
}

struct Frame {
  std::vector<uint8_t> data;
  mkv::FrameInfo info;
};
struct StreamRead {
  std::vector<Frame> frames;
  std::vector<int32_t> errors;  // results other than success, in order
};

// Calls `read(buffer, capacity, info)` until the end of the stream, growing the buffer to the
// size a frame asks for; a stream that never ends is a failure.
template <class ReadFn>
StreamRead ReadEach(ReadFn read) {
  StreamRead out;
  std::vector<uint8_t> buf(16);
  for (int reads = 0; reads < 100000; ++reads) {
    mkv::FrameInfo info;
    const int32_t rc = read(buf.data(), static_cast<uint32_t>(buf.size()), &info);
    if (rc == VMF_ERR_END_OF_STREAM) return out;
    if (rc == VMF_OUT_OF_MEMORY && info.size > buf.size()) buf.resize(info.size);
    else if (rc != VMF_OK) out.errors.push_back(rc);
    else out.frames.push_back({{buf.begin(), buf.begin() + info.size}, info});
  }
  ADD_FAILURE() << "stream never ends";
  return out;
}
inline StreamRead ReadAll(mkv::MkvReader& r, int32_t blockType, uint32_t stream) {
  return ReadEach([&](uint8_t* dst, uint32_t capacity, mkv::FrameInfo* info) {
    return r.ReadFrame(blockType, stream, dst, capacity, info);
  });
}

}  // namespace mkvtest
