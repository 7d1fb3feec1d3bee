// Returning the heap's free pages: memory a finished job freed in the middle of its thread's
// arena (something still held above it) leaves the resident size only when asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "platform/os/ProcessMemory.h"
#include "tests/support/ProcessTestTools.h"

namespace {

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
  VexaOS::ReturnFreeMemory();
  EXPECT_LT(ProcessTestTools::ResidentKiB(), before - 8 * 1024);
}

}  // namespace
