// Mutexes, events and threads within one process (ThreadSanitizer follows these).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/os/VexaEvent.h"
#include "platform/os/VexaMutex.h"
#include "platform/os/VexaThread.h"

using namespace VexaOS;
using namespace std::chrono_literals;

// Another thread enters only once the owner has left as often as it entered.
TEST(VexaMutex, UnnamedIsRecursiveAndExcludesOtherThreads) {
  CVexaMutex mutex;
  ASSERT_EQ(mutex.Lock(), kOsOk);
  ASSERT_EQ(mutex.Lock(0), kOsOk);
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
  CAutoMutex released(&mutex);
  EXPECT_EQ(mutex.Timeout(), kVexaNoTimeout);
  released.Release();  // unlocks now, not again at the end
  std::thread([&] { EXPECT_TRUE(mutex.Lock(0) == kOsOk && mutex.Unlock() == kOsOk); }).join();
  CAutoMutex nothing(nullptr);
}

TEST(VexaEvent, TimesOutAfterTheGivenOrTheDefaultTime) {
  CVexaEvent event(nullptr, false, 40);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(event.Wait(), kOsTimedOut);  // kVexaInfinite means the default: 40 ms
  EXPECT_GE(std::chrono::steady_clock::now() - before, 35ms);
  event.Set();
  event.Reset();
  EXPECT_EQ(event.Wait(0), kOsTimedOut);
}

// Manual reset releases every waiter and stays set; automatic reset frees one waiter per signal.
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
  while (taken == 0) std::this_thread::yield();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(taken, 1);
  automatic.Set();
  while (taken < 2) std::this_thread::yield();
  automatic.Set();
  for (auto& waiter : waiters) waiter.join();
  EXPECT_TRUE(released == 3 && taken == 3);
  EXPECT_EQ(manual.Wait(0), kOsOk);
  EXPECT_EQ(automatic.Wait(0), kOsTimedOut);
}

uint32_t PollUntilStopped(std::atomic<uint8_t>* stop, void* argument, uint32_t userValue) {
  auto* seen = static_cast<std::atomic<uint32_t>*>(argument);
  while (!stop->load()) {
    *seen = userValue;
    std::this_thread::sleep_for(1ms);
  }
  *seen = userValue + 1;
  return 0;
}

TEST(VexaThread, RunsUntilStoppedAndRestarts) {
  std::atomic<uint32_t> seen{0};
  CVexaThread thread;
  EXPECT_EQ(thread.WaitDone(0), kOsOk);  // no thread yet: done
  EXPECT_EQ(thread.Start(nullptr, nullptr), kOsFailed);
  thread.SetUserValue(77);
  ASSERT_EQ(thread.Start(PollUntilStopped, &seen), kOsOk);
  while (seen == 0) std::this_thread::yield();  // running, however late it was scheduled
  EXPECT_EQ(thread.WaitDone(30), kOsTimedOut);
  thread.Stop();
  EXPECT_EQ(seen, 78u);
  EXPECT_EQ(thread.WaitDone(0), kOsOk);
  seen = 0;
  ASSERT_EQ(thread.Start(PollUntilStopped, &seen), kOsOk);
  thread.Stop(true);  // without waiting: still running until it sees the flag
  EXPECT_EQ(thread.WaitDone(5000), kOsOk);
  EXPECT_EQ(seen, 78u);
}
