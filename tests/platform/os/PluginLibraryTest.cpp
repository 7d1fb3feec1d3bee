#include <gtest/gtest.h>

#include <cmath>

#include "platform/os/PluginLibrary.h"

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
