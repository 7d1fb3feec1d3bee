#pragma once
// The reader's byte source over the framework's stream-I/O record: kind 3 (download
// manager) for names beginning "http:", kind 4 (URI files) for "file:" and "nolo:" URLs,
// kind 0 (local file) for every other name.
#include <cstdint>

#include "framework/matroska/MkvByteSource.h"
#include "platform/files/StreamIo.h"

namespace mkv {

class MkvStreamIoSource final : public MkvByteSource {
 public:
  MkvStreamIoSource() = default;
  ~MkvStreamIoSource() override;
  MkvStreamIoSource(const MkvStreamIoSource&) = delete;
  MkvStreamIoSource& operator=(const MkvStreamIoSource&) = delete;

  // Creates the record and opens `name` for reading; VMF_ERR_FILE_OPEN_FAILURE or the
  // record's own code on failure.
  int32_t Open(const char16_t* name, VexaOS::MemoryArena* allocator);
  int32_t ReadAt(uint64_t offset, uint8_t* dst, uint32_t count, uint32_t* got) override;
  uint64_t Size() const override { return m_size; }

 private:
  VexaFiles::StreamIo* m_stream = nullptr;
  bool m_open = false;
  uint64_t m_size = 0;
  uint64_t m_position = UINT64_MAX;  // where the record's file position is, when known
};

}  // namespace mkv
