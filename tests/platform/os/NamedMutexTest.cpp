// Named mutexes and events are shared between processes, beyond what ThreadSanitizer follows:
// these tests run in the default and AddressSanitizer builds.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include "platform/os/VexaEvent.h"
#include "platform/os/VexaMutex.h"
#include "tests/support/ProcessTestTools.h"

using namespace VexaOS;
using namespace ProcessTestTools;

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
