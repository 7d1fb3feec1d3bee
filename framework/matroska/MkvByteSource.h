#pragma once
// The reader sees its file as a MkvByteSource: positional reads and a size. The module
// adapts the framework's stream-I/O record to it; tests hand it bytes in memory.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mkv {

class MkvByteSource {
 public:
  virtual ~MkvByteSource() = default;
  // Reads up to `count` bytes at `offset`; *got is what arrived (0 at the end).
  // Returns 0 or a negative code of the underlying file layer. A source that is still
  // growing (a download) answers VMF_ERR_DATA_NOT_READY, with *got 0, for bytes below
  // Size() that have not arrived yet; the same read may succeed later.
  virtual int32_t ReadAt(uint64_t offset, uint8_t* dst, uint32_t count, uint32_t* got) = 0;
  virtual uint64_t Size() const = 0;
};

class MkvMemorySource final : public MkvByteSource {
 public:
  explicit MkvMemorySource(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
  int32_t ReadAt(uint64_t offset, uint8_t* dst, uint32_t count, uint32_t* got) override;
  uint64_t Size() const override { return m_bytes.size(); }

 private:
  std::vector<uint8_t> m_bytes;
};

}  // namespace mkv
