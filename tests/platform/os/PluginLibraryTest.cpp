#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>

#include "platform/os/PluginLibrary.h"
#include "platform/os/ScopedDLL.h"

using namespace VexaOS;

// The slot is process-wide: the first test runs before any library is loaded.
TEST(PluginLibrary, NothingLoadedYet) {
  void* entry = nullptr;
  EXPECT_EQ(GetPluginEntry(u"cos", &entry), -2);
  EXPECT_EQ(LoadPluginLibrary(nullptr), -2);
  EXPECT_EQ(LoadPluginLibrary(u"/no/such/libvexa-missing.so"), -1);
  EXPECT_EQ(GetPluginEntry(u"cos", &entry), -2);
}

TEST(PluginLibrary, LoadsAndResolves) {
  ASSERT_EQ(LoadPluginLibrary(u"libm.so.6"), 0);
  void* entry = nullptr;
  ASSERT_EQ(GetPluginEntry(u"cos", &entry), 0);
  auto cosine = reinterpret_cast<double (*)(double)>(entry);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(GetPluginEntry(u"no_such_entry_point", &entry), -1);
  EXPECT_EQ(GetPluginEntry(nullptr, &entry), -2);
  EXPECT_EQ(GetPluginEntry(u"cos", nullptr), -2);
  // The narrow copy keeps the low byte of each character: U+0163 becomes 'c'.
  ASSERT_EQ(GetPluginEntry(u"\u0163os", &entry), 0);
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
