// Several processes writing one key at once, and writers killed in the middle of a write.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "platform/settings/VexaSettings.h"
#include "tests/platform/os/ChildProcess.h"
#include "tests/platform/settings/SettingsFixture.h"

using namespace veds;

using SettingsProcesses = SettingsTest;

namespace {

constexpr int kWrites = 150;

int WriteMany(const char16_t* name, const char16_t* shared, const char* tag) {
  SettingsPtr settings;
  if (!OpenSettingsPath(u"Settings/Race", kAccessUserCreate, settings)) return 10;
  for (int i = 0; i < kWrites; ++i) {
    if (!settings->SetString(name, SettingsWide(std::to_string(i).c_str()).c_str())) return 11;
    if (!settings->SetString(shared, SettingsWide((tag + std::to_string(i)).c_str()).c_str())) return 12;
  }
  return 0;
}

}  // namespace

TEST_F(SettingsProcesses, ConcurrentWritersOfOneKeyLoseNothing) {
  SettingsPtr settings;
  ASSERT_TRUE(OpenSettingsPath(u"Settings/Race", kAccessUserCreate, settings));
  Child first([] { return WriteMany(u"First", u"Both", "first"); });
  Child second([] { return WriteMany(u"Second", u"Both", "second"); });
  // Meanwhile every read sees a whole file: each value missing (not yet written) or a number.
  int reads = 0;
  for (; reads < 300; ++reads) {
    for (const char16_t* name : {u"First", u"Second"}) {
      std::string value;
      if (settings->GetString(name, value)) {
        ASSERT_FALSE(value.empty());
        ASSERT_LT(std::stoi(value), kWrites);
      }
    }
  }
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
  std::string value;
  ASSERT_TRUE(settings->GetString(u"First", value));
  EXPECT_EQ(value, std::to_string(kWrites - 1));
  ASSERT_TRUE(settings->GetString(u"Second", value));
  EXPECT_EQ(value, std::to_string(kWrites - 1));
  ASSERT_TRUE(settings->GetString(u"Both", value));
  EXPECT_TRUE(value == "first" + std::to_string(kWrites - 1) || value == "second" + std::to_string(kWrites - 1)) << value;
  std::set<std::u16string> names;
  ASSERT_TRUE(settings->GetValueNames(names));
  EXPECT_EQ(names, (std::set<std::u16string>{u"Both", u"First", u"Second"}));
}

TEST_F(SettingsProcesses, AWriterKilledMidwayLeavesTheOldOrTheNewValue) {
  constexpr uint32_t kSize = 1 << 20;  // large enough for kills to land inside writes
  SettingsPtr settings;
  ASSERT_TRUE(OpenSettingsPath(u"Settings/Kill", kAccessUserCreate, settings));
  ASSERT_TRUE(settings->SetString(u"Untouched", u"still here"));
  std::mt19937 random(12345);
  std::set<int> seen;
  int killedInsideAWrite = 0;  // the kill left a temporary file: it landed between open and rename
  // At least 25 rounds, and more (up to 200) until a kill has landed inside a write: where a
  // slow build spends most of a round encoding, the kills often land before the write starts.
  int round = 0;
  for (; round < 200 && (round < 25 || killedInsideAWrite == 0); ++round) {
    Signal started;
    Child writer([&] {
      SettingsPtr mine;
      if (!OpenSettingsPath(u"Settings/Kill", kAccessUserCreate, mine)) return 1;
      std::vector<uint8_t> bytes(kSize);
      started.Send();
      for (int i = 0;; ++i) {
        std::fill(bytes.begin(), bytes.end(), static_cast<uint8_t>(round * 16 + i % 16));
        mine->SetBinary(u"Big", bytes.data(), kSize);
      }
      return 0;
    });
    ASSERT_TRUE(started.Receive());
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 40));
    ::kill(writer.pid(), SIGKILL);
    EXPECT_EQ(writer.Wait(), 128 + SIGKILL);
    for (const auto& entry : std::filesystem::directory_iterator(userRoot_ + "/SOFTWARE/Vexa/Settings/Kill"))
      if (entry.path().filename().string().find(".vexa-values.tmp") == 0) ++killedInsideAWrite;
    vetl::MemoryBuffer<uint8_t> big;
    if (settings->GetBinary(u"Big", big)) {
      ASSERT_EQ(big.Count(), kSize) << "round " << round;
      const uint8_t first = big.Data()[0];
      for (uint32_t i = 1; i < kSize; ++i) ASSERT_EQ(big.Data()[i], first) << "round " << round << " byte " << i;
      seen.insert(first);
    }
    std::string untouched;
    ASSERT_TRUE(settings->GetString(u"Untouched", untouched));
    EXPECT_EQ(untouched, "still here");
  }
  EXPECT_FALSE(seen.empty());
  EXPECT_GT(killedInsideAWrite, 0);
  std::printf("%d of %d kills landed inside a write\n", killedInsideAWrite, round);
  // The next write clears what killed writers left behind.
  ASSERT_TRUE(settings->SetDword(u"After", 1));
  for (const auto& entry : std::filesystem::directory_iterator(userRoot_ + "/SOFTWARE/Vexa/Settings/Kill"))
    EXPECT_EQ(entry.path().filename().string().find(".vexa-values.tmp"), std::string::npos);
}
