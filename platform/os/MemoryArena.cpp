#include "platform/os/MemoryArena.h"

#include <cstdlib>
#include <cstring>

namespace VexaOS {
namespace {

constexpr uint32_t kHeaderSize = sizeof(MemoryArena);

uint64_t AlignUp(uint64_t value, uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}
uint64_t AlignDown(uint64_t value, uint32_t alignment) { return value / alignment * alignment; }

uintptr_t BufferAddress(MemoryArena* arena) {
  return reinterpret_cast<uintptr_t>(arena) - arena->headerOffset;
}

// Table access goes through memcpy: with an alignment below 4 the entries may be unaligned.
ArenaEntry EntryAt(MemoryArena* arena, uint32_t index) {
  ArenaEntry entry;
  std::memcpy(&entry, ArenaTable(arena) + index, sizeof entry);
  return entry;
}
uint32_t OffsetAt(MemoryArena* arena, uint32_t index) { return EntryAt(arena, index).offset; }
void StoreEntry(MemoryArena* arena, uint32_t index, ArenaEntry entry) {
  std::memcpy(ArenaTable(arena) + index, &entry, sizeof entry);
}
void ClearOffset(MemoryArena* arena, uint32_t index) {
  ArenaEntry entry = EntryAt(arena, index);
  entry.offset = 0;
  StoreEntry(arena, index, entry);
}

constexpr int64_t kNotFound = -1;

// Binary search over [0, entries) that steps over freed entries. With insert set it answers the
// index at which `key` keeps the table ordered (or kNotFound when the key is present already);
// otherwise the index of the live entry holding `key`, or kNotFound.
int64_t Search(MemoryArena* arena, uint32_t key, bool insert) {
  const uint32_t count = arena->entries;
  if (insert && count > 0 && OffsetAt(arena, count - 1) > key) return count;
  uint32_t low = 0;
  uint32_t high = count;
  while (low < high) {
    uint32_t probe = low + (high - low) / 2;
    uint32_t steps = 0;
    while (probe < high && OffsetAt(arena, probe) == 0 && steps < kArenaMaxFreedEntries) {
      ++probe;
      ++steps;
    }
    if (probe >= high || OffsetAt(arena, probe) == 0) {
      high = low + (high - low) / 2;  // nothing live between the midpoint and the high bound
      continue;
    }
    uint32_t offset = OffsetAt(arena, probe);
    if (offset == key) return insert ? kNotFound : probe;
    if (offset > key)
      low = probe + 1;
    else
      high = probe;
  }
  return insert ? static_cast<int64_t>(low) : kNotFound;
}

void Compact(MemoryArena* arena) {
  uint32_t kept = 0;
  for (uint32_t i = 0; i < arena->entries; ++i) {
    ArenaEntry entry = EntryAt(arena, i);
    if (entry.offset != 0) StoreEntry(arena, kept++, entry);
  }
  arena->entries = kept;
  arena->freedEntries = 0;
}

// The offset at which a block of n bytes goes, or kNotFound.
int64_t FindPlace(MemoryArena* arena, uint32_t n) {
  const uint32_t alignment = arena->alignment;
  const uintptr_t buffer = BufferAddress(arena);
  const int64_t need = static_cast<int64_t>(n) + arena->overhead;
  const int64_t tableEnd =
      static_cast<int64_t>(AlignUp(buffer + arena->tableOffset +
                                       (static_cast<uint64_t>(arena->entries) + 1) * sizeof(ArenaEntry),
                                   alignment) -
                           buffer);
  const int64_t end = static_cast<int64_t>(AlignDown(buffer + arena->size, alignment) - buffer);
  int64_t lowest = end;
  for (uint32_t i = arena->entries; i > 0; --i) {
    uint32_t offset = OffsetAt(arena, i - 1);
    if (offset != 0) {
      lowest = offset;
      break;
    }
  }
  if (lowest < tableEnd) return kNotFound;
  if (arena->holeBytes >= need) {
    int64_t boundary = end;
    for (uint32_t i = 0; i < arena->entries; ++i) {
      ArenaEntry entry = EntryAt(arena, i);
      if (entry.offset == 0) continue;
      int64_t blockEnd = static_cast<int64_t>(entry.offset) + entry.size;
      if (boundary - blockEnd >= need) return boundary - need;
      boundary = entry.offset;
    }
  }
  if (lowest - tableEnd >= need) return lowest - need;
  return kNotFound;
}

}  // namespace

MemoryArena* ArenaCreate(const ArenaDescriptor* descriptor) {
  if (!descriptor || !descriptor->buffer || descriptor->size == 0) return nullptr;
  const uint32_t alignment = descriptor->alignment;
  if (alignment < 1 || alignment > 8) return nullptr;
  if (descriptor->size < 2 * alignment + kHeaderSize) return nullptr;
  const uintptr_t buffer = reinterpret_cast<uintptr_t>(descriptor->buffer);
  const uintptr_t header = AlignUp(buffer, alignment);
  auto* arena = reinterpret_cast<MemoryArena*>(header);
  arena->headerOffset = static_cast<uint32_t>(header - buffer);
  arena->size = descriptor->size;
  arena->alignment = static_cast<uint8_t>(alignment);
  arena->overhead = 0;
  arena->reserved = 0;
  arena->tableOffset = static_cast<uint32_t>(AlignUp(header + kHeaderSize, alignment) - buffer);
  arena->entries = 0;
  arena->holeBytes = 0;
  arena->freedEntries = 0;
  return arena;
}

void* ArenaAlloc(MemoryArena* arena, uint32_t size) {
  if (!arena || size == 0) return nullptr;
  const uint64_t rounded = AlignUp(size, arena->alignment);
  if (rounded > arena->size) return nullptr;
  const uint32_t n = static_cast<uint32_t>(rounded);
  int64_t offset = FindPlace(arena, n);
  if (offset == kNotFound) {
    Compact(arena);
    offset = FindPlace(arena, n);
    if (offset == kNotFound) return nullptr;
  }
  int64_t index = Search(arena, static_cast<uint32_t>(offset), true);
  if (index == kNotFound) return nullptr;
  const uint32_t at = static_cast<uint32_t>(index);
  if (at != arena->entries) arena->holeBytes -= n + arena->overhead;
  ArenaEntry* table = ArenaTable(arena);
  std::memmove(table + at + 1, table + at, (arena->entries - at) * sizeof(ArenaEntry));
  StoreEntry(arena, at, ArenaEntry{static_cast<uint32_t>(offset), n});
  ++arena->entries;
  return reinterpret_cast<void*>(BufferAddress(arena) + static_cast<uintptr_t>(offset));
}

void ArenaFree(MemoryArena* arena, void* address) {
  if (!arena || !address) return;
  const uintptr_t buffer = BufferAddress(arena);
  const uintptr_t where = reinterpret_cast<uintptr_t>(address);
  if (where <= buffer || where - buffer >= arena->size) return;
  const int64_t found = Search(arena, static_cast<uint32_t>(where - buffer), false);
  if (found == kNotFound) return;
  const uint32_t index = static_cast<uint32_t>(found);
  const ArenaEntry entry = EntryAt(arena, index);
  // The hole count is the number of free bytes between blocks. Freeing the lowest block joins
  // its space, and the space between it and the block above it, to the free area below the
  // blocks: the count loses that distance less the block's size. The block above is the nearest
  // live entry before it (freed entries in between are dropped with it); with none, no block
  // remains and neither does a hole.
  int64_t above = -1;
  for (uint32_t i = index; i > 0; --i) {
    if (OffsetAt(arena, i - 1) != 0) {
      above = i - 1;
      break;
    }
  }
  if (index == arena->entries - 1) {
    if (above < 0)
      arena->holeBytes = 0;
    else
      arena->holeBytes += entry.size + arena->overhead -
                          (OffsetAt(arena, static_cast<uint32_t>(above)) - entry.offset);
  } else {
    arena->holeBytes += entry.size + arena->overhead;
  }
  ClearOffset(arena, index);
  ++arena->freedEntries;
  while (arena->entries > 0 && OffsetAt(arena, arena->entries - 1) == 0) {
    --arena->entries;
    --arena->freedEntries;
  }
  if (arena->freedEntries > kArenaMaxFreedEntries) Compact(arena);
}

void* ArenaOrHeapAlloc(MemoryArena* arena, size_t size) {
  if (!arena) return std::malloc(size);
  if (size > UINT32_MAX) return nullptr;
  return ArenaAlloc(arena, static_cast<uint32_t>(size));
}

void ArenaOrHeapFree(MemoryArena* arena, void* address) {
  if (arena)
    ArenaFree(arena, address);
  else
    std::free(address);
}

}  // namespace VexaOS
