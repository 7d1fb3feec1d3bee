// The engine's cache: a fixed set of blocks of one power-of-two size, each holding a run of
// bytes inside its aligned window of the resource. Made once from the arena; nothing is
// allocated afterwards.
//
// Which block a byte goes to: the block already holding its window, else an unused block, else
// the least recently used block lying wholly before the read position, else (unless the
// reader only moves forward) the least recently used block other than the reader's own. A
// forward-only reader never loses bytes it has not read yet: arriving data waits instead.
#pragma once

#include <cstdint>

namespace VexaOS {
struct MemoryArena;
}

namespace VexaHttp {

struct CacheBlock {
  uint64_t start;   // first byte held
  uint32_t count;   // bytes held from `start` on; 0: unused
  uint8_t* data;    // the block's aligned window
  uint64_t window;  // offset of data[0]
  uint64_t lastUse;
};

class BlockCache {
 public:
  BlockCache() = default;
  BlockCache(const BlockCache&) = delete;
  BlockCache& operator=(const BlockCache&) = delete;

  // False when the arena cannot hold it (what was made is given back).
  bool Create(VexaOS::MemoryArena* arena, uint32_t blockCount, uint32_t blockSize);
  void Destroy();

  // The bytes held from `offset` on in its block (0 when that byte is not held) and where.
  uint32_t HeldAt(uint64_t offset, const uint8_t** data);
  // Where bytes arriving for `offset` may be written and how many fit to the block's end; null
  // when every block is still needed by a reader at `position`.
  uint8_t* PlaceFor(uint64_t offset, uint64_t position, bool forwardOnly, uint32_t* room);
  // Records `count` bytes written at `offset` through PlaceFor.
  void Commit(uint64_t offset, uint32_t count);

  uint32_t BlockSize() const { return m_blockSize; }
  uint64_t WindowOf(uint64_t offset) const { return offset & ~static_cast<uint64_t>(m_blockSize - 1); }

 private:
  CacheBlock* Find(uint64_t window);
  CacheBlock* Victim(uint64_t position, bool forwardOnly);

  VexaOS::MemoryArena* m_arena = nullptr;
  CacheBlock* m_blocks = nullptr;
  uint8_t* m_storage = nullptr;
  uint32_t m_blockCount = 0;
  uint32_t m_blockSize = 0;
  uint64_t m_clock = 0;
};

}  // namespace VexaHttp
