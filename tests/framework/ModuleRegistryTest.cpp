// The error and query vocabularies, registration, and allocation from a caller's arena.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "framework/ContainerAccess.h"
#include "framework/LoggingModule.h"
#include "framework/ModuleRegistry.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "platform/os/MemoryArena.h"
#include "tests/framework/FakeModule.h"

namespace {

// Lookups by value: unassigned codes and plain values have no entry; no value is named twice.
TEST(VmfVocabulary, ErrorsAndQueryIdentifiersAreFoundByValue) {
  EXPECT_STREQ(VmfFindError(static_cast<int32_t>(0xC000001A))->message, "End of stream.");
  EXPECT_EQ(VmfFindError(static_cast<int32_t>(0xC0000044)), nullptr);  // unassigned
  EXPECT_EQ(VmfFindError(VMF_FAILED), nullptr);
  EXPECT_STREQ(VmfQidName(0x450E07), "VMF_QID_TITLE_DURATION");
  EXPECT_EQ(VmfQidName(0x450E08), nullptr);
  std::set<int64_t> values;
  for (const VmfErrorEntry& entry : VmfErrorTable()) EXPECT_TRUE(values.insert(entry.code).second) << entry.name;
  values.clear();
  for (const VmfQidEntry& entry : VmfQidTable()) EXPECT_TRUE(values.insert(entry.value).second) << entry.name;
}

TEST(ModuleRegistry, StatesAndTheBuiltInListAreEntered) {
  int state = 0;
  const VmfModuleDescriptor outOfRange{50, fake::Module().info, fake::Module().entries};
  const VmfModuleDescriptor* list[] = {&outOfRange, &fake::Module()};
  void* states[] = {nullptr, &state};
  const VmfRegistrationRecord record{0, list, states, 2, 0};
  ASSERT_EQ(vmf::Register(&record), VMF_OK);
  EXPECT_EQ(vmf::ModuleState(fake::kFakeId), &state);
  // The fake module reads only: a write open finds no module.
  int32_t id = 0;
  EXPECT_EQ(vmf::ChooseModule(u"fake:v1a0s0", vmf::AccessMode::Write, nullptr, &id),
            VMF_ERR_UNSUPPORTED_CONTAINER);
  ASSERT_EQ(vmf::Register(nullptr), VMF_OK);
  EXPECT_EQ(vmf::ModuleState(fake::kFakeId), nullptr);
  const VmfModuleDescriptor* found = nullptr;
  for (int32_t builtin : {10, 12, 14, 15, 16, 17, 18}) {
    ASSERT_EQ(vmf::FindModule(builtin, &found), VMF_OK) << builtin;
    EXPECT_EQ(found->id, builtin);
    EXPECT_NE(found->entries->probe, nullptr);
  }
  EXPECT_EQ(vmf::FindModule(fake::kFakeId, &found), VMF_FAILED);
}

TEST(ModuleRegistry, ContainersComeFromTheCallersArenaAndGoBackToIt) {
  ASSERT_EQ(fake::RegisterWithLogging(), VMF_OK);
  alignas(8) static uint8_t buffer[4096];
  const VexaOS::ArenaDescriptor descriptor{buffer, sizeof buffer, 8};
  VexaOS::MemoryArena* arena = VexaOS::ArenaCreate(&descriptor);
  ASSERT_NE(arena, nullptr);
  VmfContainer* container = nullptr;
  ASSERT_EQ(vmf::OpenContainer(&container, u"fake:v1a0s0;fake:v0a1s0", arena), VMF_OK);
  for (const void* record : {static_cast<void*>(container), static_cast<void*>(container->files[1])}) {
    EXPECT_TRUE(record >= buffer && record < buffer + sizeof buffer);
  }
  EXPECT_EQ(container->files[1]->allocator, arena);
  EXPECT_EQ(container->files[1]->streamCursor, -1);
  EXPECT_EQ(vmf::CloseContainer(container), VMF_OK);
  // Everything went back: the whole buffer is free for one large block again.
  EXPECT_NE(VexaOS::ArenaAlloc(arena, sizeof buffer - 128), nullptr);
}

}  // namespace
