// The small platform services: 64-bit pairs, file URLs, loaded libraries, the stopwatch,
// returning the heap's free pages, and the memory arena.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <algorithm>
#include <array>
#include <memory>
#include <thread>
#include <vector>

#include "platform/os/FileUrl.h"
#include "platform/os/Int64Pair.h"
#include "platform/os/MemoryArena.h"
#include "platform/os/PluginLibrary.h"
#include "platform/os/ProcessMemory.h"
#include "platform/os/ScopedDLL.h"
#include "platform/os/VexaTime.h"
#include "tests/support/ProcessTestTools.h"

using namespace VexaOS;
using namespace std::chrono_literals;

TEST(Int64Pair, CarriesBorrowsAndComparesHighWordsFirstUnsigned) {
  Int64Pair pair{0, 0xFFFFFFFF};
  Int64PairAdd(pair, 1);
  EXPECT_EQ(pair.high, 1u);
  Int64PairSubPair(pair, Int64PairFrom(0x100000001ull));
  EXPECT_EQ(Int64PairValue(pair), ~0ull);  // wraps
  Int64PairAddPair(pair, Int64PairFrom(2));
  EXPECT_EQ(Int64PairValue(pair), 1ull);
  const Int64Pair small{0, 0xFFFFFFFF}, big{1, 0}, huge{0x80000000, 0};
  EXPECT_TRUE(Int64PairLess(small, big) && Int64PairGreater(huge, big) && Int64PairLessOrEqual(small, small));
  EXPECT_FALSE(Int64PairGreater(small, small) || Int64PairLess(big, small) || Int64PairIsZero(Int64Pair{0, 1}));
}

namespace {

#ifdef _WIN32
constexpr char kDrive[] = "/C:";         // what a file URL holds before an absolute path
constexpr size_t kDrivePathChars = 2;    // what the path holds of it: "C:"
#else
constexpr char kDrive[] = "";
constexpr size_t kDrivePathChars = 0;
#endif

// The system's form of an absolute path written "/a/b".
std::string Native(std::string path) {
#ifdef _WIN32
  std::replace(path.begin(), path.end(), '/', '\\');
  return "C:" + path;
#else
  return path;
#endif
}

std::string FileUrlOf(const std::filesystem::path& path) {
  const std::u8string text = std::filesystem::absolute(path).generic_u8string();
  return std::string(text[0] == u8'/' ? "file://" : "file:///") + std::string(text.begin(), text.end());
}

}  // namespace

TEST(FileUrl, PathsOf2047CharactersAtMostFileInfoAndDelete) {
  const std::string file = std::string("file://") + kDrive;
  std::string path;
  ASSERT_TRUE(FileUrlToPath((file + "/tmp/a%20b/c%25d%C3%A9").c_str(), path));
  EXPECT_EQ(path, Native("/tmp/a b/c%d\xC3\xA9"));
  EXPECT_TRUE(FileUrlToPath((std::string("FILE://localhost") + kDrive + "/x").c_str(), path) && path == Native("/x"));
  const std::string longest = file + "/" + std::string(2046 - kDrivePathChars, 'a');  // the path: 2047
  EXPECT_TRUE(FileUrlToPath(longest.c_str(), path) && !FileUrlToPath((longest + "a").c_str(), path));
  EXPECT_TRUE(FileUrlToPath((file + "/" + std::string(2045 - kDrivePathChars, 'a') + "%41").c_str(), path));  // decoded length
  for (const char* bad : {"file://server/share/x", "http://host/x", "/tmp/x", "file:///bad%2", "file:///bad%zz",
                          "file:///nul%00", static_cast<const char*>(nullptr)})
    EXPECT_FALSE(FileUrlToPath(bad, path)) << (bad ? bad : "null");
#ifdef _WIN32
  EXPECT_FALSE(FileUrlToPath("file:///tmp/x", path));  // no drive: not an absolute path here
#endif
  ProcessTestTools::TempDir dir("url");
  std::ofstream(dir.path() / "some file.bin", std::ios::binary) << std::string(12345, 'x');
  const std::string url = FileUrlOf(dir.path() / "some%20file.bin");
  VexaFileInfo info{};
  ASSERT_EQ(FileInfoFromUrl(url.c_str(), &info), kFileUrlOk) << url;
  EXPECT_EQ(Int64PairValue(info.size), 12345u);
  EXPECT_LT(info.secondsSinceAccess, 600u);
  EXPECT_EQ(FileInfoFromUrl((dir.path() / "some file.bin").string().c_str(), &info), kFileUrlFailed);  // a path, not a URL
  EXPECT_EQ(DeleteFileFromUrl(url.c_str()), kFileUrlOk);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "some file.bin"));
  EXPECT_EQ(DeleteFileFromUrl(url.c_str()), kFileUrlFailed);
}

// The libraries loaded here are Linux's (libm, libz).
#ifndef _WIN32
// The slot is process-wide: nothing is loaded before this test.
TEST(PluginLibrary, LoadsIntoTheSlotAndResolvesByTheLowBytesOfTheName) {
  void* entry = nullptr;
  EXPECT_EQ(GetPluginEntry(u"cos", &entry), kPluginNoArgument);  // nothing loaded
  EXPECT_EQ(LoadPluginLibrary(nullptr), kPluginNoArgument);
  EXPECT_EQ(LoadPluginLibrary(u"/no/such/libvexa-missing.so"), kPluginFailed);
  ASSERT_EQ(LoadPluginLibrary(u"libm.so.6"), kPluginOk);
  ASSERT_EQ(GetPluginEntry(u"\u0163os", &entry), kPluginOk);  // U+0163 keeps its low byte, 'c'
  EXPECT_DOUBLE_EQ(reinterpret_cast<double (*)(double)>(entry)(0.0), 1.0);
  EXPECT_EQ(GetPluginEntry(u"no_such_entry_point", &entry), kPluginFailed);
  EXPECT_EQ(GetPluginEntry(u"cos", nullptr), kPluginNoArgument);
}

// A library nothing else in this process loads, so its unloading can be seen.
TEST(ScopedDLL, HoldsTheLibraryForItsLifetimeOnly) {
  constexpr char kLibrary[] = "libz.so.1";
  auto isLoaded = [&] {
    void* probe = ::dlopen(kLibrary, RTLD_NOW | RTLD_NOLOAD);
    return probe && ::dlclose(probe) == 0;
  };
  if (isLoaded()) GTEST_SKIP() << kLibrary << " is loaded by the test program itself";
  ScopedDLL moved, library;
  EXPECT_TRUE(!library.Load("/no/such/libvexa-missing.so") && library.Symbol("zlibVersion") == nullptr);
  ASSERT_TRUE(library.Load(kLibrary));
  EXPECT_EQ(library.Symbol("no_such_entry_point"), nullptr);
  moved = std::move(library);
  library.Reset();  // moved from: holds nothing
  EXPECT_TRUE(isLoaded());  // the moved-to owner holds it still
  EXPECT_NE(moved.Symbol("zlibVersion"), nullptr);
  moved.Reset();
  EXPECT_FALSE(isLoaded());
}

#endif  // !_WIN32

// Readings are checked against the wall time measured around them (rounded up, plus one for the
// watch's own rounding), never against a guess of how long a sleep takes.
TEST(VexaTime, CountsOnlyWhileRunningPlusTheOffset) {
  auto atMostSince = [](auto from) {
    return uint64_t(std::chrono::ceil<std::chrono::milliseconds>(std::chrono::steady_clock::now() - from).count() + 1);
  };
  CVexaTime watch;
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(watch.Elapsed() == 0u && watch.State() == CVexaTime::kStopped);  // never started
  watch.SetOffset(5000);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(watch.Start(), 0);
  std::this_thread::sleep_for(30ms);
  watch.Stop();
  const uint64_t stopped = watch.Elapsed();
  EXPECT_TRUE(stopped >= 5030u && stopped <= 5000 + atMostSince(started)) << stopped;
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(watch.Elapsed(), stopped);  // the stopped time does not count
  const auto restarted = std::chrono::steady_clock::now();
  EXPECT_TRUE(watch.Start() == 0 && watch.Start() == 0);  // already running: nothing changes
  const uint64_t running = watch.Elapsed();
  EXPECT_TRUE(running >= stopped && running - stopped <= atMostSince(restarted)) << running;
}

#ifndef _WIN32  // glibc's arenas; Windows has one process heap
// What a finished job's thread freed leaves the resident size when asked: the pages in the
// middle of the heap (something still held above them) and the free top above everything.
TEST(ProcessMemory, WhatAFinishedThreadFreedIsReturned) {
#if !defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers and other C libraries keep their own heaps";
#endif
  ShareOneHeapArena();
  // A large block mapped and freed raises the size below which the allocator keeps freed tops,
  // as a stream's buffers do.
  std::make_unique<char[]>(16 << 20);  // zero-filled: touched, then freed
  std::vector<std::unique_ptr<char[]>> kept;
  std::thread job([&] {
    // 64 KiB blocks, below the size the allocator maps on its own; a small block kept after
    // every MiB of the first half holds that space in place, the second half is the free top.
    std::vector<std::unique_ptr<char[]>> blocks;
    for (int i = 0; i < 256; ++i) {
      blocks.emplace_back(new char[64 * 1024]);
      std::fill_n(blocks.back().get(), 64 * 1024, char(i));
      if (i % 16 == 15 && i < 128) kept.emplace_back(new char[64]);
    }
  });
  job.join();
  long before = ProcessTestTools::ResidentKiB();
  ReturnFreeMemory();
  EXPECT_LT(ProcessTestTools::ResidentKiB(), before - 12 * 1024);
}
#endif

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
