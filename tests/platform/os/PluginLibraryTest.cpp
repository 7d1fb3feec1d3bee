#include <gtest/gtest.h>

#include <dlfcn.h>

#include "platform/os/PluginLibrary.h"
#include "platform/os/ScopedDLL.h"

using namespace VexaOS;

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
    if (probe) ::dlclose(probe);
    return probe != nullptr;
  };
  if (isLoaded()) GTEST_SKIP() << kLibrary << " is loaded by the test program itself";
  ScopedDLL moved;
  {
    ScopedDLL library;
    EXPECT_FALSE(library.Load("/no/such/libvexa-missing.so"));
    EXPECT_EQ(library.Symbol("zlibVersion"), nullptr);
    ASSERT_TRUE(library.Load(kLibrary));
    EXPECT_NE(library.Symbol("zlibVersion"), nullptr);
    EXPECT_EQ(library.Symbol("no_such_entry_point"), nullptr);
    moved = std::move(library);
  }
  EXPECT_TRUE(isLoaded());  // the moved-to owner holds it still
  EXPECT_NE(moved.Symbol("zlibVersion"), nullptr);
  moved.Reset();
  EXPECT_FALSE(isLoaded());
}
