#include <gtest/gtest.h>

#include "platform/os/MemoryArena.h"

using namespace VexaOS;

namespace {

// An arena over an 8-aligned buffer moved on by `misalign` bytes; offsets count from the buffer.
struct Arena {
  std::vector<uint64_t> storage;
  unsigned char* buffer;
  MemoryArena* arena;
  Arena(uint32_t size, uint32_t alignment, uint32_t misalign = 0)
      : storage(size / 8 + 2), buffer(reinterpret_cast<unsigned char*>(storage.data()) + misalign) {
    ArenaDescriptor descriptor{buffer, size, alignment};
    arena = ArenaCreate(&descriptor);
  }
  uint32_t Offset(void* block) const { return static_cast<uint32_t>(static_cast<unsigned char*>(block) - buffer); }
  uint32_t AllocAt(uint32_t size) { return Offset(ArenaAlloc(arena, size)); }
  std::vector<void*> Fill(uint32_t size, size_t most = SIZE_MAX) {
    std::vector<void*> blocks;
    for (void* block; blocks.size() < most && (block = ArenaAlloc(arena, size));) blocks.push_back(block);
    return blocks;
  }
  // Entries, hole bytes and freed entries, compared at once.
  std::array<uint32_t, 3> Counts() const { return {arena->entries, arena->holeBytes, arena->freedEntries}; }
};
using Counts = std::array<uint32_t, 3>;

}  // namespace

TEST(MemoryArena, CreationLimits) {
  unsigned char buffer[64];
  for (uint32_t alignment = 1; alignment <= 8; ++alignment) {  // the smallest size fits, one byte less not
    ArenaDescriptor tooSmall{buffer, 2 * alignment + 27, alignment}, smallest{buffer, 2 * alignment + 28, alignment};
    EXPECT_TRUE(ArenaCreate(&tooSmall) == nullptr && ArenaCreate(&smallest) != nullptr) << alignment;
  }
  for (ArenaDescriptor bad : {ArenaDescriptor{buffer, 64, 0}, ArenaDescriptor{buffer, 64, 9}, ArenaDescriptor{nullptr, 64, 4}})
    EXPECT_EQ(ArenaCreate(&bad), nullptr);
  EXPECT_EQ(ArenaCreate(nullptr), nullptr);
  Arena misaligned(256, 8, 3);  // the header at the next 8-byte boundary, the table after it
  EXPECT_EQ(reinterpret_cast<uintptr_t>(misaligned.arena) % 8, 0u);
  EXPECT_EQ(misaligned.arena->tableOffset, 5u + 32u);
}

// Blocks are carved downward from the rounded end; a freed block is a hole the next fitting
// allocation takes; everything freed, the whole space is one again.
TEST(MemoryArena, CarvingHolesAndRecovery) {
  Arena a(1021, 8);  // the end rounds down to 1016
  EXPECT_EQ(a.AllocAt(10), 1000u);  // rounded to 16
  EXPECT_EQ(a.AllocAt(1), 992u);    // rounded to 8
  EXPECT_TRUE(ArenaAlloc(a.arena, 0) == nullptr && ArenaAlloc(nullptr, 8) == nullptr);
  Arena b(512, 8);
  std::vector<void*> blocks = b.Fill(24);
  EXPECT_EQ(blocks.size(), 15u);  // 15 blocks of 24 with their 8-byte entries fill the 480 bytes
  ArenaFree(b.arena, blocks[5]);
  EXPECT_EQ(b.Counts(), (Counts{15, 24, 1}));
  EXPECT_EQ(ArenaAlloc(b.arena, 24), blocks[5]);  // the hole takes it
  ArenaFree(b.arena, static_cast<char*>(blocks[0]) + 4);  // unknown addresses do nothing
  ArenaFree(b.arena, nullptr);
  EXPECT_EQ(b.Counts(), (Counts{15, 0, 0}));
  for (void* block : blocks) ArenaFree(b.arena, block);
  ArenaFree(b.arena, blocks[0]);  // twice
  EXPECT_EQ(b.Counts(), (Counts{0, 0, 0}));
  EXPECT_NE(ArenaAlloc(b.arena, 400), nullptr);
}

// A full table compacts for an allocation, more than 2048 freed entries compact at once, and a
// table grown into the lowest block refuses all.
TEST(MemoryArena, TableLimits) {
  Arena a(32 + 8 + 40 * 16, 8);
  std::vector<void*> blocks = a.Fill(8);
  ASSERT_EQ(blocks.size(), 40u);
  for (size_t i = 0; i + 1 < blocks.size(); i += 2) ArenaFree(a.arena, blocks[i]);
  EXPECT_EQ(a.AllocAt(64), a.Offset(blocks.back()) - 64);  // larger than any hole: fits once the table shrinks
  EXPECT_EQ(a.arena->entries, 21u);
  const uint32_t count = 2052;
  Arena many(64 + count * 16 + 64, 8);
  blocks = many.Fill(8, count);
  ASSERT_EQ(blocks.size(), count);
  // Highest first, so no freed entry is ever last: 2048 freed entries stay in the table, and
  // the lookup steps over all of them; the 2049th compacts at once.
  for (uint32_t i = 0; i < 2048; ++i) ArenaFree(many.arena, blocks[i]);
  EXPECT_EQ(many.arena->freedEntries, 2048u);
  ArenaFree(many.arena, blocks[2049]);
  ASSERT_EQ(many.Counts(), (Counts{3, 2049 * 8, 0}));
  EXPECT_EQ(ArenaTable(many.arena)[0].offset, many.Offset(blocks[2048]));
  EXPECT_EQ(ArenaTable(many.arena)[2].offset, many.Offset(blocks[2051]));
  Arena b(224, 8);  // eight 16-byte blocks: the table ends where the lowest block starts, at 96
  blocks = b.Fill(16);
  ASSERT_EQ(blocks.size(), 8u);
  ArenaFree(b.arena, blocks[0]);
  EXPECT_EQ(b.AllocAt(8), 216u);  // the table is full again, an 8-byte hole at 208
  EXPECT_EQ(b.arena->holeBytes, 8u);
  EXPECT_EQ(ArenaAlloc(b.arena, 1), nullptr);  // even the hole is refused
  ArenaFree(b.arena, blocks[3]);
  EXPECT_EQ(b.AllocAt(8), 208u);
}
