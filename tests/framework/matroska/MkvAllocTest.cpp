// Module 12 when memory runs out: every entry answers a result code; none throws across the
// entry table. This program fails the n-th allocation and every one after it.
#include <gtest/gtest.h>

#include "framework/ModuleTable.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "framework/matroska/MkvModule.h"
#include "tests/framework/ContainerFiles.h"
#include "tests/support/AllocationGate.h"

namespace {

// Opens, asks, seeks and reads through the entry table; the first failure ends the round.
int32_t OneRound(const VmfEntryTable& e, const std::u16string& name) {
  VmfModuleHandle h = nullptr;
  int32_t rc = e.openContainer(&h, name.c_str(), nullptr);
  if (rc != VMF_OK) return rc;
  VmfQueryValue v{};
  uint8_t buf[128];
  VmfBlock block{buf, 0, sizeof buf, 0, 0, 0, nullptr, nullptr, {}};
  int64_t time = 0;
  if ((rc = e.getInfo(h, VMF_QID_TITLE_DURATION, &v, 0)) == VMF_OK &&
      (rc = e.setPosition(h, VMF_BLOCK_AUDIO, 0, &time)) == VMF_OK)
    rc = e.readNextBlockByStream(h, VMF_BLOCK_AUDIO, 0, &block);
  EXPECT_EQ(e.closeContainer(h), VMF_OK);
  return rc;
}

}  // namespace

TEST(MkvMemory, AllocationFailureIsOutOfMemoryAtEveryEntry) {
  const VmfEntryTable& e = *MatroskaModuleDescriptor()->entries;
  const ProcessTestTools::TempDir dir("alloc");
  const std::u16string name = containertest::WriteTaggedMkv(dir.path() / "alloc.mkv", "alloc", 0, 1, 0);
  long n = 0;
  for (;; ++n) {
    int32_t rc = VMF_OK;
    AllocationGate::Watch(n);
    EXPECT_NO_THROW(rc = OneRound(e, name)) << n;
    const bool failed = AllocationGate::Stop() > n;
    EXPECT_EQ(rc, failed ? VMF_OUT_OF_MEMORY : VMF_OK) << "allocation " << n;
    if (!failed) break;
  }
  EXPECT_GT(n, 10) << "the rounds met too few allocations to fail";
}
