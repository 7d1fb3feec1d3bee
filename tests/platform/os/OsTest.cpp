// The small platform services: 64-bit pairs, file URLs, loaded libraries, the stopwatch and
// returning the heap's free pages.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "platform/os/FileUrl.h"
#include "platform/os/Int64Pair.h"
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

TEST(FileUrl, PathsOf2047CharactersAtMostFileInfoAndDelete) {
  std::string path;
  ASSERT_TRUE(FileUrlToPath("file:///tmp/a%20b/c%25d%C3%A9", path));
  EXPECT_EQ(path, "/tmp/a b/c%d\xC3\xA9");
  EXPECT_TRUE(FileUrlToPath("FILE://localhost/x", path) && path == "/x");
  const std::string longest = "file:///" + std::string(2046, 'a');  // "/" + 2046
  EXPECT_TRUE(FileUrlToPath(longest.c_str(), path) && !FileUrlToPath((longest + "a").c_str(), path));
  EXPECT_TRUE(FileUrlToPath(("file:///" + std::string(2045, 'a') + "%41").c_str(), path));  // decoded length
  for (const char* bad : {"file://server/share/x", "http://host/x", "/tmp/x", "file:///bad%2", "file:///bad%zz",
                          "file:///nul%00", static_cast<const char*>(nullptr)})
    EXPECT_FALSE(FileUrlToPath(bad, path)) << (bad ? bad : "null");
  ProcessTestTools::TempDir dir("url");
  std::ofstream(dir.path() / "some file.bin", std::ios::binary) << std::string(12345, 'x');
  const std::string url = "file://" + (dir.path() / "some%20file.bin").string();
  VexaFileInfo info{};
  ASSERT_EQ(FileInfoFromUrl(url.c_str(), &info), kFileUrlOk);
  EXPECT_EQ(Int64PairValue(info.size), 12345u);
  EXPECT_EQ(FileInfoFromUrl((dir.path() / "some file.bin").c_str(), &info), kFileUrlFailed);  // a path, not a URL
  EXPECT_EQ(DeleteFileFromUrl(url.c_str()), kFileUrlOk);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "some file.bin"));
  EXPECT_EQ(DeleteFileFromUrl(url.c_str()), kFileUrlFailed);
}

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

// Memory a finished job freed in the middle of its thread's arena (something still held above
// it) leaves the resident size only when asked.
TEST(ProcessMemory, FreedPagesInsideAnArenaAreReturned) {
#if !defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers and other C libraries keep their own heaps";
#endif
  std::vector<std::unique_ptr<char[]>> kept;
  std::thread job([&] {
    // 64 KiB blocks stay below the size the allocator maps on its own, so they come from
    // this thread's arena; a small block kept after every MiB holds the freed space in place.
    std::vector<std::unique_ptr<char[]>> blocks;
    for (int i = 0; i < 1024; ++i) {
      blocks.emplace_back(new char[64 * 1024]);
      std::fill_n(blocks.back().get(), 64 * 1024, char(i));
      if (i % 16 == 15) kept.emplace_back(new char[64]);
    }
  });
  job.join();
  long before = ProcessTestTools::ResidentKiB();
  ReturnFreeMemory();
  EXPECT_LT(ProcessTestTools::ResidentKiB(), before - 8 * 1024);
}
