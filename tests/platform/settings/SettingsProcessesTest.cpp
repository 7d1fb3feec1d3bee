// Several processes writing one key at once, and writers killed at chosen points of a write.
#include "tests/platform/settings/SettingsFixture.h"

using SettingsProcesses = SettingsTest;
using ProcessTestTools::Child;

namespace {

constexpr int kWrites = 150;

int WriteMany(const char16_t* name, const std::string& tag) {
  SettingsPtr settings;
  bool written = OpenSettingsPath(u"Settings/Race", kAccessUserCreate, settings);
  for (int i = 0; written && i < kWrites; ++i)
    written = settings->SetString(name, std::to_string(i).c_str()) && settings->SetString(u"Both", (tag + std::to_string(i)).c_str());
  return written ? 0 : 1;
}

// Where the killed writer stops: at `point` of the write after `completed` whole writes.
struct StopPoint {
  WritePoint point;
  int completed;
} stopAt;
int completedWrites = 0;
int stoppedFd = -1;

void StopWhenThere(WritePoint point) {
  completedWrites += point == WritePoint::kReplaced;
  if (point != stopAt.point || completedWrites != stopAt.completed) return;
  (void)!::write(stoppedFd, "x", 1);  // tell the test, then wait for its kill
  for (;;) ::pause();
}

}  // namespace

TEST_F(SettingsProcesses, ConcurrentWritersOfOneKeyLoseNothing) {
  SettingsPtr settings;
  ASSERT_TRUE(OpenSettingsPath(u"Settings/Race", kAccessUserCreate, settings));
  Child first([] { return WriteMany(u"First", "first"); }), second([] { return WriteMany(u"Second", "second"); });
  // Meanwhile every read sees a whole file: each value missing (not yet written) or a number.
  std::string value;
  for (int reads = 0; reads < 300; ++reads)
    for (const char16_t* name : {u"First", u"Second"})
      ASSERT_LT(settings->GetString(name, value) ? std::stoi(value) : 0, kWrites);  // missing or whole
  EXPECT_TRUE(first.Wait() == 0 && second.Wait() == 0);
  const std::string last = std::to_string(kWrites - 1);
  for (const char16_t* name : {u"First", u"Second"}) EXPECT_TRUE(settings->GetString(name, value) && value == last);
  EXPECT_TRUE(settings->GetString(u"Both", value) && (value == "first" + last || value == "second" + last)) << value;
}

TEST_F(SettingsProcesses, AWriterKilledMidwayLeavesTheOldOrTheNewValue) {
  constexpr uint32_t kSize = 256 * 1024;
  const StopPoint rounds[] = {{WritePoint::kHalfWritten, 0}, {WritePoint::kHalfWritten, 1}, {WritePoint::kHalfWritten, 3},
                              {WritePoint::kReplaced, 1}, {WritePoint::kReplaced, 2}};
  SettingsPtr settings;
  ASSERT_TRUE(OpenSettingsPath(u"Settings/Kill", kAccessUserCreate, settings));
  ASSERT_TRUE(settings->SetString(u"Untouched", u"still here"));
  for (const StopPoint& round : rounds) {
    settings->DeleteValue(u"Big");  // every round starts without it (absent in the first)
    ProcessTestTools::Signal stopped;
    Child writer([&] {
      stopAt = round;
      stoppedFd = stopped.WriteEnd();
      SetWriteObserver(StopWhenThere);
      SettingsPtr mine;
      std::vector<uint8_t> bytes(kSize);
      if (!OpenSettingsPath(u"Settings/Kill", kAccessUserCreate, mine)) return 1;
      for (uint8_t fill = 1;; ++fill) {  // write n holds n everywhere
        std::fill(bytes.begin(), bytes.end(), fill);
        if (!mine->SetBinary(u"Big", bytes.data(), kSize)) return 2;
      }
    });
    ASSERT_TRUE(stopped.Receive());
    ::kill(writer.pid(), SIGKILL);
    ASSERT_EQ(writer.Wait(), 128 + SIGKILL);
    bool leftover = false;
    for (const auto& entry : std::filesystem::directory_iterator(layers_.userRoot + "/SOFTWARE/Vexa/Settings/Kill"))
      leftover = leftover || entry.path().filename().string().rfind(".vexa-values.tmp", 0) == 0;
    EXPECT_EQ(leftover, round.point == WritePoint::kHalfWritten);
    vetl::MemoryBuffer<uint8_t> big;
    ASSERT_EQ(settings->GetBinary(u"Big", big), round.completed > 0);
    EXPECT_EQ(std::vector<uint8_t>(big.Data(), big.Data() + big.Count()), std::vector<uint8_t>(round.completed > 0 ? kSize : 0, round.completed));
    std::string untouched;
    EXPECT_TRUE(settings->GetString(u"Untouched", untouched) && untouched == "still here");
  }
}
