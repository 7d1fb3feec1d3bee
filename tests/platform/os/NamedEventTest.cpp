// A named event shared with a child process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/os/VexaEvent.h"
#include "tests/platform/os/ChildProcess.h"

using namespace VexaOS;
using namespace std::chrono_literals;

TEST(VexaEvent, NamedWorksAcrossProcesses) {
  const std::string ready = UniqueName("event");
  const std::string go = UniqueName("event");
  CVexaEvent readyEvent(ready.c_str(), true);
  CVexaEvent goEvent(go.c_str(), false);
  EXPECT_TRUE(readyEvent.IsNamed());
  Child child([&] {
    CVexaEvent theirReady(ready.c_str(), false);  // the creator decided: manual reset
    CVexaEvent theirGo(go.c_str());
    if (!theirReady.IsManualReset()) return 3;
    theirReady.Set();
    if (theirGo.Wait(5000) != 0) return 1;
    return theirGo.Wait(0) == -1 ? 0 : 2;  // automatic reset: taken by the first wait
  });
  ASSERT_EQ(readyEvent.Wait(5000), 0);
  goEvent.Set();
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(readyEvent.Wait(0), 0);  // manual reset: still set
}

