// A fixed-buffer allocator laid over a caller's buffer. No lock: its owner serialises access.
//
// The header sits at the start of the buffer rounded up to the alignment, the table of blocks
// follows it (rounded up to the alignment), and blocks are carved from the end of the buffer
// downward, so the table and the blocks grow toward each other. Table entries are ordered by
// offset, highest first; an entry whose offset is 0 has been freed and waits for compaction.
//
// The header keeps the 28 bytes of the 32-bit layout (so the packing and the minimum size of
// an arena are the same on every target): the two words that held addresses hold the distance
// from the buffer start to the header and the table's offset from the buffer start.
#pragma once

#include <cstddef>
#include <cstdint>

namespace VexaOS {

struct ArenaDescriptor {
  void* buffer;
  uint32_t size;
  uint32_t alignment;  // 1 to 8
};

#pragma pack(push, 1)
struct MemoryArena {
  uint32_t headerOffset;   // distance from the buffer start to this header
  uint32_t size;           // buffer size in bytes
  uint8_t alignment;       // 1 to 8
  uint8_t overhead;        // bytes kept in front of each block: 0
  uint16_t reserved;
  uint32_t tableOffset;    // offset of the table from the buffer start
  uint32_t entries;        // table entries, live and freed
  uint32_t holeBytes;      // bytes freed between blocks (a hint: when large enough, gaps are scanned)
  uint32_t freedEntries;   // freed entries not yet compacted
};

struct ArenaEntry {
  uint32_t offset;  // from the buffer start; 0 = freed
  uint32_t size;
};
#pragma pack(pop)

static_assert(sizeof(MemoryArena) == 28);
static_assert(offsetof(MemoryArena, size) == 4 && offsetof(MemoryArena, alignment) == 8 &&
              offsetof(MemoryArena, overhead) == 9 && offsetof(MemoryArena, tableOffset) == 12 &&
              offsetof(MemoryArena, entries) == 16 && offsetof(MemoryArena, holeBytes) == 20 &&
              offsetof(MemoryArena, freedEntries) == 24);
static_assert(sizeof(ArenaEntry) == 8);

// More freed entries than this make a free compact the table at once.
constexpr uint32_t kArenaMaxFreedEntries = 2048;

// Null for a null descriptor, a null buffer, a size of 0, an alignment outside 1..8 or a size
// below 2 x alignment + 28.
MemoryArena* ArenaCreate(const ArenaDescriptor* descriptor);
// Null for a null arena, a size of 0, or when no place is left even after compaction.
void* ArenaAlloc(MemoryArena* arena, uint32_t size);
// Does nothing for an address the arena did not hand out (or already took back).
void ArenaFree(MemoryArena* arena, void* address);

// Inspection, for tests and diagnostics.
inline uint8_t* ArenaBuffer(MemoryArena* arena) {
  return reinterpret_cast<uint8_t*>(arena) - arena->headerOffset;
}
inline ArenaEntry* ArenaTable(MemoryArena* arena) {
  return reinterpret_cast<ArenaEntry*>(ArenaBuffer(arena) + arena->tableOffset);
}

// Every allocation site that may hold an arena goes through these: the arena when there is one,
// the process heap otherwise.
void* ArenaOrHeapAlloc(MemoryArena* arena, size_t size);
void ArenaOrHeapFree(MemoryArena* arena, void* address);

}  // namespace VexaOS
