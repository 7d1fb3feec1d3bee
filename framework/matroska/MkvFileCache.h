#pragma once
// A few aligned windows over a MkvByteSource. Every stream of a file keeps its own read
// position, and the streams are read in step with each other, so they mostly hit the same
// windows; large payloads bypass the cache.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/matroska/MkvByteSource.h"
#include "platform/os/ByteBuffer.h"

namespace mkv {

class MkvFileCache {
 public:
  static constexpr uint32_t kWindowSize = 256 * 1024;
  static constexpr size_t kWindowCount = 4;

  explicit MkvFileCache(MkvByteSource* source) : m_source(source) {}

  uint64_t Size() const { return m_source->Size(); }
  // Copies exactly `count` bytes at `offset`; VMF_SHORT_READ when the file ends first,
  // VMF_ERR_DATA_NOT_READY when a growing source has not delivered them yet.
  int32_t Read(uint64_t offset, uint8_t* dst, size_t count);
  // Copies what is there of `count` bytes at `offset` (element headers near the end).
  int32_t ReadSome(uint64_t offset, uint8_t* dst, size_t count, size_t* got);

 private:
  struct Window {
    uint64_t start = UINT64_MAX;
    uint32_t length = 0;
    uint64_t lastUse = 0;
    bool partial = false;  // the source had not delivered the rest yet: load again
    ByteBuffer bytes;  // filled by the read that follows, never zeroed first
  };
  int32_t Load(uint64_t start, Window** out);

  MkvByteSource* m_source;
  std::array<Window, kWindowCount> m_windows;
  uint64_t m_clock = 0;
};

}  // namespace mkv
