// Named mutexes and events are shared between processes, beyond what ThreadSanitizer follows:
// these tests run in the default and AddressSanitizer builds.
// Windows has no fork: there the other process is this program started again for one of the
// disabled child cases below.
#include <gtest/gtest.h>

#include "platform/os/VexaEvent.h"
#include "platform/os/VexaMutex.h"
#include "tests/support/ProcessTestTools.h"

using namespace VexaOS;
using namespace ProcessTestTools;

#ifdef _WIN32
#include <cstdlib>

#include "platform/process/ChildProcess.h"

namespace {

constexpr char kNameVariable[] = "VEXA_TEST_OBJECT_NAME";

// The name the parent handed its child.
std::string HandedName() {
  const char* name = std::getenv(kNameVariable);
  return name ? name : "";
}

// Starts this program for one child case, with `name` in its environment; the case runs even
// though it is disabled.
bool StartChild(VexaProcess::CChildProcess& child, const char* testCase, const std::string& name) {
  ::_putenv_s(kNameVariable, name.c_str());
  return child.Start({std::filesystem::absolute(VEXA_TEST_PROGRAM).u16string(), u"--gtest_also_run_disabled_tests",
                      u"--gtest_filter=NamedChild." + Wide(testCase)});
}

// Waits for the child to print "ready" (gtest's own lines come first).
bool ChildReady(VexaProcess::CChildProcess& child) {
  std::string seen;
  uint8_t buffer[512];
  VexaProcess::ReadyStreams ready;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (seen.find("ready") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    size_t count = 0;
    if (!child.WaitReadable(100, false, ready)) return false;
    const VexaProcess::ReadResult result = child.Read(VexaProcess::kStandardOutput, buffer, sizeof buffer, count);
    if (result == VexaProcess::kReadEnd || result == VexaProcess::kReadFailed) return false;
    seen.append(reinterpret_cast<char*>(buffer), count);
  }
  return seen.find("ready") != std::string::npos;
}

}  // namespace

TEST(NamedChild, DISABLED_LocksAndStays) {
  CVexaMutex theirs(HandedName().c_str());
  ASSERT_EQ(theirs.Lock(), kOsOk);
  std::printf("ready\n");
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::minutes(5));
}

TEST(NamedChild, DISABLED_TakesTheCreatorsReset) {
  const std::string names = HandedName();
  const size_t split = names.find('|');
  CVexaEvent theirReady(names.substr(0, split).c_str(), false), theirGo(names.substr(split + 1).c_str());
  ASSERT_TRUE(theirReady.IsManualReset());
  theirReady.Set();
  ASSERT_EQ(theirGo.Wait(5000), kOsOk);
  EXPECT_EQ(theirGo.Wait(0), kOsTimedOut);
}

// Held elsewhere the lock times out (the default or the given time-out); once its owner is gone
// without unlocking (process killed, thread ended) it answers -1 once, then is free.
TEST(VexaMutex, NamedHeldTimesOutAndAbandonedAnswersMinusOneOnce) {
  const std::string name = UniqueName("mutex");
  CVexaMutex mine(name.c_str(), 50);
  VexaProcess::CChildProcess owner;
  ASSERT_TRUE(StartChild(owner, "DISABLED_LocksAndStays", name));
  ASSERT_TRUE(ChildReady(owner));
  EXPECT_EQ(mine.Lock(), kOsFailed);
  EXPECT_EQ(mine.Unlock(), kOsFailed);  // not the owner
  const std::function<void()> owners[] = {
      [&] { owner.Terminate(); },
      [&] { std::thread([&] { EXPECT_EQ(mine.Lock(), kOsOk); }).join(); }};
  for (const auto& leaveItLocked : owners) {
    leaveItLocked();
    EXPECT_EQ(mine.Lock(1000), kOsFailed);  // abandoned
    EXPECT_TRUE(mine.Lock(1000) == kOsOk && mine.Unlock() == kOsOk);
  }
}

// The creator decides the reset mode; an automatic reset is taken by the first wait.
TEST(VexaEvent, NamedWorksAcrossProcessesWithTheCreatorsReset) {
  const std::string ready = UniqueName("event"), go = UniqueName("event");
  CVexaEvent readyEvent(ready.c_str(), true), goEvent(go.c_str(), false);
  VexaProcess::CChildProcess child;
  ASSERT_TRUE(StartChild(child, "DISABLED_TakesTheCreatorsReset", ready + "|" + go));
  ASSERT_EQ(readyEvent.Wait(5000), kOsOk);
  goEvent.Set();
  EXPECT_TRUE(WaitFor([&] { return child.HasExited(); }));
  EXPECT_EQ(child.GetExitState(), VexaProcess::kExitedCleanly);
  EXPECT_EQ(readyEvent.Wait(0), kOsOk);  // manual reset: still set
}

#else
#include <sys/mman.h>

// Held elsewhere the lock times out (the default or the given time-out); once its owner is gone
// without unlocking (process killed or exited, thread ended) it answers -1 once, then is free.
TEST(VexaMutex, NamedHeldTimesOutAndAbandonedAnswersMinusOneOnce) {
  const std::string name = UniqueName("mutex");
  CVexaMutex mine(name.c_str(), 50);
  Signal locked;
  Child owner([&] {
    CVexaMutex theirs(name.c_str());
    theirs.Lock();
    locked.Send();
    for (;;) ::pause();
    return 0;
  });
  ASSERT_TRUE(locked.Receive());
  EXPECT_EQ(mine.Lock(), kOsFailed);
  EXPECT_EQ(mine.Unlock(), kOsFailed);  // not the owner
  const std::function<void()> owners[] = {
      [&] { ::kill(owner.pid(), SIGKILL); EXPECT_EQ(owner.Wait(), 128 + SIGKILL); },
      [&] { EXPECT_EQ(Child([&] { return CVexaMutex(name.c_str()).Lock() == kOsOk ? 0 : 1; }).Wait(), 0); },
      [&] { std::thread([&] { EXPECT_EQ(mine.Lock(), kOsOk); }).join(); }};
  for (const auto& leaveItLocked : owners) {
    leaveItLocked();
    EXPECT_EQ(mine.Lock(1000), kOsFailed);  // abandoned
    EXPECT_TRUE(mine.Lock(1000) == kOsOk && mine.Unlock() == kOsOk);
  }
  // The killed process never closed its opening, so the segment would outlive this test.
  ::shm_unlink(SharedSegment::SystemName("mutex", name.c_str()).c_str());
}

TEST(VexaMutex, TheSharedSegmentGoesWithTheLastOpening) {
  const std::string name = UniqueName("mutex");
  const std::string segment = "/dev/shm" + SharedSegment::SystemName("mutex", name.c_str());
  {
    CVexaMutex first(name.c_str());
    { CVexaMutex second(name.c_str()); }
    EXPECT_TRUE(std::filesystem::exists(segment));
  }
  EXPECT_FALSE(std::filesystem::exists(segment));
  CVexaMutex slashed("a/b%c");  // escaped
  EXPECT_TRUE(slashed.Lock() == kOsOk && slashed.Unlock() == kOsOk);
  CVexaMutex tooLong(std::string(300, 'n').c_str());  // makes no lock
  EXPECT_EQ(tooLong.Lock(), kOsFailed);
}

// The creator decides the reset mode; an automatic reset is taken by the first wait.
TEST(VexaEvent, NamedWorksAcrossProcessesWithTheCreatorsReset) {
  const std::string ready = UniqueName("event"), go = UniqueName("event");
  CVexaEvent readyEvent(ready.c_str(), true), goEvent(go.c_str(), false);
  Child child([&] {
    CVexaEvent theirReady(ready.c_str(), false), theirGo(go.c_str());
    if (!theirReady.IsManualReset()) return 3;
    theirReady.Set();
    if (theirGo.Wait(5000) != kOsOk) return 1;
    return theirGo.Wait(0) == kOsTimedOut ? 0 : 2;
  });
  ASSERT_EQ(readyEvent.Wait(5000), kOsOk);
  goEvent.Set();
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(readyEvent.Wait(0), kOsOk);  // manual reset: still set
}
#endif
