// Mutexes, events and threads within one process (ThreadSanitizer follows these).
#include <gtest/gtest.h>

#include "platform/os/VexaMutex.h"
#include "platform/os/VexaThread.h"
#include "tests/support/ProcessTestTools.h"

using namespace VexaOS;
using namespace std::chrono_literals;

// Another thread enters only once the owner has left as often as it entered.
TEST(VexaMutex, UnnamedIsRecursiveAndExcludesOtherThreads) {
  CVexaMutex mutex;
  ASSERT_TRUE(mutex.Lock() == kOsOk && mutex.Lock(0) == kOsOk);
  std::atomic<bool> entered{false};
  std::thread other([&] {
    CAutoMutex hold(&mutex);
    entered = true;
  });
  for (int unlocks = 0; unlocks < 2; ++unlocks) {
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(entered);
    EXPECT_EQ(mutex.Unlock(), kOsOk);
  }
  other.join();
  EXPECT_TRUE(entered);
  CAutoMutex released(&mutex), nothing(nullptr);
  EXPECT_EQ(mutex.Timeout(), kVexaNoTimeout);
  released.Release();  // unlocks now, not again at the end
  std::thread([&] { EXPECT_TRUE(mutex.Lock(0) == kOsOk && mutex.Unlock() == kOsOk); }).join();
}

// Manual reset releases every waiter and stays set; automatic reset frees one waiter per signal.
// Without a time-out given, a wait lasts the event's default.
TEST(VexaEvent, ResetModes) {
  CVexaEvent manual(nullptr, true), automatic;
  std::atomic<int> released{0}, taken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] { released += manual.Wait() == kOsOk; });
    waiters.emplace_back([&] { taken += automatic.Wait() == kOsOk; });
  }
  manual.Set();
  automatic.Set();  // whether or not the waiters wait yet, the one signal frees one of them
  EXPECT_TRUE(ProcessTestTools::WaitFor([&] { return taken > 0; }));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(taken, 1);
  automatic.Set();
  EXPECT_TRUE(ProcessTestTools::WaitFor([&] { return taken >= 2; }));
  automatic.Set();
  for (auto& waiter : waiters) waiter.join();
  EXPECT_TRUE(released == 3 && taken == 3);
  EXPECT_TRUE(manual.Wait(0) == kOsOk && automatic.Wait(0) == kOsTimedOut);
  manual.Reset();
  for (CVexaEvent* event : {&manual, &automatic}) {
    event->SetTimeout(40);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(event->Wait(), kOsTimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 35ms);
  }
}

uint32_t PollUntilStopped(std::atomic<uint8_t>* stop, void* argument, uint32_t userValue) {
  auto* seen = static_cast<std::atomic<uint32_t>*>(argument);
  for (; !stop->load(); std::this_thread::sleep_for(1ms)) *seen = userValue;
  *seen = userValue + 1;
  return 0;
}

TEST(VexaThread, RunsUntilStoppedAndRestarts) {
  std::atomic<uint32_t> seen{0};
  CVexaThread thread;
  EXPECT_EQ(thread.WaitDone(0), kOsOk);  // no thread yet: done
  EXPECT_EQ(thread.Start(nullptr, nullptr), kOsFailed);
  thread.SetUserValue(77);
  for (bool noWait : {false, true}) {
    seen = 0;
    ASSERT_EQ(thread.Start(PollUntilStopped, &seen), kOsOk);
    ASSERT_TRUE(ProcessTestTools::WaitFor([&] { return seen != 0; }));  // running, however late it was scheduled
    EXPECT_EQ(thread.WaitDone(30), kOsTimedOut);
    thread.Stop(noWait);  // without waiting: still running until it sees the flag
    EXPECT_EQ(thread.WaitDone(noWait ? 5000 : 0), kOsOk);
    EXPECT_EQ(seen, 78u);
  }
}
