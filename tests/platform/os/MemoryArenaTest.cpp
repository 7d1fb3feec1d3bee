#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "platform/os/MemoryArena.h"

using namespace VexaOS;

namespace {

struct Arena {
  std::vector<unsigned char> storage;
  MemoryArena* arena = nullptr;
  unsigned char* buffer = nullptr;
  Arena(uint32_t size, uint32_t alignment, uint32_t misalign = 0) : storage(size + 16) {
    buffer = storage.data() + ((8 - reinterpret_cast<uintptr_t>(storage.data()) % 8) % 8) + misalign;
    ArenaDescriptor descriptor{buffer, size, alignment};
    arena = ArenaCreate(&descriptor);
  }
  uint32_t Offset(void* block) const { return static_cast<uint32_t>(static_cast<unsigned char*>(block) - buffer); }
  std::vector<ArenaEntry> Table() const {
    std::vector<ArenaEntry> entries(arena->entries);
    std::memcpy(entries.data(), ArenaTable(arena), entries.size() * sizeof(ArenaEntry));
    return entries;
  }
  // The end of the table if it had one more entry (alignment 8, aligned buffer).
  uint32_t TableEndWithOneMore() const {
    uint32_t end = arena->tableOffset + (arena->entries + 1) * 8;
    return (end + 7) / 8 * 8;
  }
};

}  // namespace

TEST(MemoryArena, CreationLimits) {
  unsigned char buffer[64];
  for (uint32_t alignment = 1; alignment <= 8; ++alignment) {
    ArenaDescriptor tooSmall{buffer, 2 * alignment + 27, alignment};
    EXPECT_EQ(ArenaCreate(&tooSmall), nullptr) << alignment;
    ArenaDescriptor smallest{buffer, 2 * alignment + 28, alignment};
    EXPECT_NE(ArenaCreate(&smallest), nullptr) << alignment;
  }
  ArenaDescriptor zeroAlignment{buffer, 64, 0};
  EXPECT_EQ(ArenaCreate(&zeroAlignment), nullptr);
  ArenaDescriptor nineAlignment{buffer, 64, 9};
  EXPECT_EQ(ArenaCreate(&nineAlignment), nullptr);
  ArenaDescriptor noBuffer{nullptr, 64, 4};
  EXPECT_EQ(ArenaCreate(&noBuffer), nullptr);
  ArenaDescriptor noSize{buffer, 0, 4};
  EXPECT_EQ(ArenaCreate(&noSize), nullptr);
  EXPECT_EQ(ArenaCreate(nullptr), nullptr);
}

TEST(MemoryArena, HeaderSitsAtTheAlignedStartAndTheTableFollows) {
  Arena a(256, 8, 3);  // buffer 3 bytes past an 8-byte boundary
  ASSERT_NE(a.arena, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a.arena) % 8, 0u);
  EXPECT_EQ(a.arena->headerOffset, 5u);
  EXPECT_EQ(a.arena->tableOffset, 5u + 32u);  // 28-byte header rounded up to 8
  EXPECT_EQ(a.arena->size, 256u);
  EXPECT_EQ(a.arena->alignment, 8);
  EXPECT_EQ(a.arena->overhead, 0);
  EXPECT_EQ(a.arena->entries, 0u);
}

TEST(MemoryArena, BlocksAreCarvedDownwardFromTheEnd) {
  Arena a(1024, 8);
  void* first = ArenaAlloc(a.arena, 10);   // rounded to 16
  void* second = ArenaAlloc(a.arena, 16);
  void* third = ArenaAlloc(a.arena, 1);    // rounded to 8
  ASSERT_TRUE(first && second && third);
  EXPECT_EQ(a.Offset(first), 1024u - 16);
  EXPECT_EQ(a.Offset(second), 1024u - 32);
  EXPECT_EQ(a.Offset(third), 1024u - 40);
  auto table = a.Table();
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0].offset, 1008u);
  EXPECT_EQ(table[0].size, 16u);
  EXPECT_EQ(table[2].offset, 984u);
  EXPECT_EQ(table[2].size, 8u);
  EXPECT_EQ(ArenaAlloc(a.arena, 0), nullptr);
  EXPECT_EQ(ArenaAlloc(nullptr, 8), nullptr);
}

TEST(MemoryArena, UnalignedBufferEndIsRoundedDown) {
  Arena a(1021, 4);
  void* block = ArenaAlloc(a.arena, 4);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 4, 0u);
  EXPECT_EQ(a.Offset(block), 1016u);  // 1020 rounded down, less 4
}

TEST(MemoryArena, ExhaustionAndRecovery) {
  Arena a(512, 8);
  std::vector<void*> blocks;
  while (void* block = ArenaAlloc(a.arena, 24)) blocks.push_back(block);
  // 15 blocks of 24 bytes with their 8-byte entries fill the 480 bytes after the header.
  EXPECT_EQ(blocks.size(), 15u);
  EXPECT_EQ(ArenaAlloc(a.arena, 8), nullptr);
  // Every block is distinct and inside the buffer, above the table.
  std::set<void*> distinct(blocks.begin(), blocks.end());
  EXPECT_EQ(distinct.size(), blocks.size());
  for (void* block : blocks) EXPECT_GE(a.Offset(block), a.arena->tableOffset + a.arena->entries * 8);
  // Freeing a middle block makes a hole that the next allocation of its size fills.
  void* middle = blocks[5];
  ArenaFree(a.arena, middle);
  EXPECT_EQ(a.arena->holeBytes, 24u);
  EXPECT_EQ(a.arena->freedEntries, 1u);
  void* again = ArenaAlloc(a.arena, 24);
  EXPECT_EQ(again, middle);
  EXPECT_EQ(a.arena->holeBytes, 0u);
  for (void* block : blocks) ArenaFree(a.arena, block);
  EXPECT_EQ(a.arena->entries, 0u);
  EXPECT_EQ(a.arena->freedEntries, 0u);
  EXPECT_EQ(a.arena->holeBytes, 0u);
  EXPECT_NE(ArenaAlloc(a.arena, 400), nullptr);
}

TEST(MemoryArena, FreeingAnUnknownAddressDoesNothing) {
  Arena a(256, 4);
  void* block = ArenaAlloc(a.arena, 16);
  ArenaFree(a.arena, static_cast<char*>(block) + 4);
  ArenaFree(a.arena, a.buffer + 100000);
  ArenaFree(a.arena, nullptr);
  ArenaFree(nullptr, block);
  EXPECT_EQ(a.arena->entries, 1u);
  ArenaFree(a.arena, block);
  ArenaFree(a.arena, block);  // twice
  EXPECT_EQ(a.arena->entries, 0u);
}

TEST(MemoryArena, FreeingTheLowestBlockNeverLeavesAFreedEntryAtTheEnd) {
  Arena a(4096, 4);
  std::vector<void*> blocks;
  for (int i = 0; i < 6; ++i) blocks.push_back(ArenaAlloc(a.arena, 8));
  ArenaFree(a.arena, blocks[3]);
  ArenaFree(a.arena, blocks[4]);
  EXPECT_EQ(a.arena->entries, 6u);
  EXPECT_EQ(a.arena->freedEntries, 2u);
  ArenaFree(a.arena, blocks[5]);  // the lowest: it and the freed entries before it go
  EXPECT_EQ(a.arena->entries, 3u);
  EXPECT_EQ(a.arena->freedEntries, 0u);
  auto table = a.Table();
  EXPECT_NE(table.back().offset, 0u);
  // The space below the lowest live block is free again.
  void* next = ArenaAlloc(a.arena, 8);
  EXPECT_EQ(next, blocks[3]);
}

TEST(MemoryArena, HoleCountWhenTheLowestBlockGoes) {
  Arena a(1024, 8);
  void* high = ArenaAlloc(a.arena, 16);   // 1008
  void* mid = ArenaAlloc(a.arena, 16);    // 992
  void* low = ArenaAlloc(a.arena, 16);    // 976
  ASSERT_TRUE(high && mid && low);
  ArenaFree(a.arena, low);  // the last entry, preceded by a live one 16 bytes above: 16 - 16
  EXPECT_EQ(a.arena->holeBytes, 0u);
  EXPECT_EQ(a.arena->entries, 2u);
  ArenaFree(a.arena, high);  // not the last: its size
  EXPECT_EQ(a.arena->holeBytes, 16u);
  void* refill = ArenaAlloc(a.arena, 16);  // the hole at the top takes it
  EXPECT_EQ(refill, high);
  EXPECT_EQ(a.arena->holeBytes, 0u);
  ArenaFree(a.arena, mid);  // the last again: 16 - (1008 - 992)
  EXPECT_EQ(a.arena->holeBytes, 0u);
  void* spare = ArenaAlloc(a.arena, 8);  // no hole: right below the lowest block
  ASSERT_NE(spare, nullptr);
  EXPECT_EQ(a.Offset(spare), 1000u);
  ArenaFree(a.arena, spare);
  ArenaFree(a.arena, refill);  // the only entry: 0
  EXPECT_EQ(a.arena->holeBytes, 0u);
  EXPECT_EQ(a.arena->entries, 0u);
}

TEST(MemoryArena, CompactsAtOnceWhenMoreThan2048EntriesAreFreed) {
  const uint32_t count = 2052;
  Arena a(64 + count * (8 + 8) + 64, 8);
  std::vector<void*> blocks;
  for (uint32_t i = 0; i < count; ++i) {
    void* block = ArenaAlloc(a.arena, 8);
    ASSERT_NE(block, nullptr) << i;
    blocks.push_back(block);
  }
  // Free all but the lowest blocks, highest first, so no freed entry is ever last: 2048 freed
  // entries stay in the table.
  for (uint32_t i = 0; i < 2048; ++i) ArenaFree(a.arena, blocks[i]);
  EXPECT_EQ(a.arena->entries, count);
  EXPECT_EQ(a.arena->freedEntries, 2048u);
  // The lookup steps over the run of 2048 freed entries; the 2049th freed entry compacts at once.
  ArenaFree(a.arena, blocks[2049]);
  EXPECT_EQ(a.arena->freedEntries, 0u);
  ASSERT_EQ(a.arena->entries, 3u);
  auto table = a.Table();
  EXPECT_EQ(table[0].offset, a.Offset(blocks[2048]));
  EXPECT_EQ(table[1].offset, a.Offset(blocks[2050]));
  EXPECT_EQ(table[2].offset, a.Offset(blocks[2051]));
  ArenaFree(a.arena, blocks[2048]);
  ArenaFree(a.arena, blocks[2051]);
  ArenaFree(a.arena, blocks[2050]);
  EXPECT_EQ(a.arena->entries, 0u);
}

TEST(MemoryArena, AllocationCompactsWhenTheTableLeavesNoRoom) {
  // 40 blocks of 8 fill the arena; every other one is freed (never the lowest), and a block
  // larger than any hole fits only once compaction shrinks the table.
  Arena a(32 + 8 + 40 * 16, 8);
  std::vector<void*> blocks;
  while (void* block = ArenaAlloc(a.arena, 8)) blocks.push_back(block);
  ASSERT_EQ(blocks.size(), 40u);
  for (size_t i = 0; i + 1 < blocks.size(); i += 2) ArenaFree(a.arena, blocks[i]);
  EXPECT_EQ(a.arena->freedEntries, 20u);
  EXPECT_EQ(a.arena->entries, 40u);
  void* big = ArenaAlloc(a.arena, 64);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(a.arena->freedEntries, 0u);
  EXPECT_EQ(a.arena->entries, 21u);
  EXPECT_EQ(a.Offset(big), a.Offset(blocks.back()) - 64);
}

TEST(MemoryArena, TableGrownIntoTheLowestBlockRefusesEveryAllocation) {
  // 224 bytes, alignment 8: the header takes 32, and eight 16-byte blocks fill the rest so that
  // the table (8 entries) ends exactly where the lowest block starts, at 96.
  Arena a(224, 8);
  std::vector<void*> blocks;
  while (void* block = ArenaAlloc(a.arena, 16)) blocks.push_back(block);
  ASSERT_EQ(blocks.size(), 8u);
  EXPECT_EQ(a.Offset(blocks.back()), 96u);
  EXPECT_EQ(a.arena->tableOffset + a.arena->entries * 8, 96u);
  // Free the top block and take 8 of its 16 bytes: compaction drops the freed entry, the new
  // entry fills the table up to the lowest block again, and an 8-byte hole remains at 208.
  ArenaFree(a.arena, blocks[0]);
  void* top = ArenaAlloc(a.arena, 8);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(a.Offset(top), 216u);
  EXPECT_EQ(a.arena->entries, 8u);
  EXPECT_EQ(a.arena->freedEntries, 0u);
  EXPECT_EQ(a.arena->holeBytes, 8u);
  // The table has grown into the lowest block: even the hole is refused.
  EXPECT_EQ(ArenaAlloc(a.arena, 8), nullptr);
  EXPECT_EQ(ArenaAlloc(a.arena, 1), nullptr);
  // Once a block is freed, compaction makes room for an entry and the hole is used.
  ArenaFree(a.arena, blocks[3]);
  void* filled = ArenaAlloc(a.arena, 8);
  ASSERT_NE(filled, nullptr);
  EXPECT_EQ(a.Offset(filled), 208u);
}

TEST(MemoryArena, HeapOrArena) {
  void* fromHeap = ArenaOrHeapAlloc(nullptr, 100);
  ASSERT_NE(fromHeap, nullptr);
  ArenaOrHeapFree(nullptr, fromHeap);
  Arena a(256, 4);
  void* fromArena = ArenaOrHeapAlloc(a.arena, 12);
  EXPECT_EQ(a.arena->entries, 1u);
  ArenaOrHeapFree(a.arena, fromArena);
  EXPECT_EQ(a.arena->entries, 0u);
}
