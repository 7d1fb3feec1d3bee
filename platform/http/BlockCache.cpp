#include "platform/http/BlockCache.h"

#include <algorithm>

#include "platform/os/MemoryArena.h"

namespace VexaHttp {

bool BlockCache::Create(VexaOS::MemoryArena* arena, uint32_t blockCount, uint32_t blockSize) {
  uint64_t storageBytes = static_cast<uint64_t>(blockCount) * blockSize;
  if (storageBytes > UINT32_MAX) return false;
  m_arena = arena;
  m_blocks = static_cast<CacheBlock*>(VexaOS::ArenaOrHeapAlloc(arena, blockCount * sizeof(CacheBlock)));
  m_storage = static_cast<uint8_t*>(VexaOS::ArenaOrHeapAlloc(arena, storageBytes));
  if (m_blocks == nullptr || m_storage == nullptr) {
    Destroy();
    return false;
  }
  m_blockCount = blockCount;
  m_blockSize = blockSize;
  for (uint32_t i = 0; i < blockCount; ++i) {
    m_blocks[i] = CacheBlock{0, 0, m_storage + static_cast<uint64_t>(i) * blockSize, 0, 0};
  }
  return true;
}

void BlockCache::Destroy() {
  if (m_storage != nullptr) VexaOS::ArenaOrHeapFree(m_arena, m_storage);
  if (m_blocks != nullptr) VexaOS::ArenaOrHeapFree(m_arena, m_blocks);
  m_storage = nullptr;
  m_blocks = nullptr;
  m_blockCount = 0;
}

CacheBlock* BlockCache::Find(uint64_t window) {
  for (uint32_t i = 0; i < m_blockCount; ++i) {
    if (m_blocks[i].count != 0 && m_blocks[i].window == window) return &m_blocks[i];
  }
  return nullptr;
}

uint32_t BlockCache::HeldAt(uint64_t offset, const uint8_t** data) {
  CacheBlock* block = Find(WindowOf(offset));
  if (block == nullptr || offset < block->start || offset - block->start >= block->count) return 0;
  block->lastUse = ++m_clock;
  *data = block->data + (offset - block->window);
  return static_cast<uint32_t>(block->start + block->count - offset);
}

CacheBlock* BlockCache::Victim(uint64_t position, bool forwardOnly) {
  CacheBlock* behind = nullptr;
  CacheBlock* other = nullptr;
  uint64_t readerWindow = WindowOf(position);
  for (uint32_t i = 0; i < m_blockCount; ++i) {
    CacheBlock& block = m_blocks[i];
    if (block.count == 0) return &block;
    if (block.window + m_blockSize <= position) {
      if (behind == nullptr || block.lastUse < behind->lastUse) behind = &block;
    } else if (block.window != readerWindow) {
      if (other == nullptr || block.lastUse < other->lastUse) other = &block;
    }
  }
  if (behind != nullptr) return behind;
  return forwardOnly ? nullptr : other;
}

uint8_t* BlockCache::PlaceFor(uint64_t offset, uint64_t position, bool forwardOnly, uint32_t* room) {
  uint64_t window = WindowOf(offset);
  CacheBlock* block = Find(window);
  if (block == nullptr) {
    block = Victim(position, forwardOnly);
    if (block == nullptr) return nullptr;
    block->count = 0;
    block->window = window;
    block->start = offset;
  }
  *room = static_cast<uint32_t>(window + m_blockSize - offset);
  return block->data + (offset - window);
}

// Joins the new run to what the block holds when they touch or overlap; otherwise the new run
// replaces it (a block holds one run).
void BlockCache::Commit(uint64_t offset, uint32_t count) {
  if (count == 0) return;
  CacheBlock* block = Find(WindowOf(offset));
  if (block == nullptr) {
    for (uint32_t i = 0; i < m_blockCount && block == nullptr; ++i) {
      if (m_blocks[i].count == 0 && m_blocks[i].window == WindowOf(offset)) block = &m_blocks[i];
    }
    if (block == nullptr) return;
    block->start = offset;
  }
  uint64_t end = offset + count;
  uint64_t heldEnd = block->start + block->count;
  if (block->count == 0 || offset > heldEnd || end < block->start) {
    block->start = offset;
    block->count = count;
  } else {
    uint64_t start = std::min(block->start, offset);
    block->count = static_cast<uint32_t>(std::max(heldEnd, end) - start);
    block->start = start;
  }
  block->lastUse = ++m_clock;
}

}  // namespace VexaHttp
