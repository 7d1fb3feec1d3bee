#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/os/VexaEvent.h"
#include "tests/platform/os/ChildProcess.h"

using namespace VexaOS;
using namespace std::chrono_literals;

TEST(VexaEvent, StartsUnsignalledAndTimesOut) {
  CVexaEvent event;
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(event.Wait(50), -1);
  EXPECT_GE(std::chrono::steady_clock::now() - before, 45ms);
  EXPECT_EQ(event.Wait(0), -1);
}

TEST(VexaEvent, AutoResetReleasesOneWait) {
  CVexaEvent event;
  event.Set();
  EXPECT_EQ(event.Wait(0), 0);
  EXPECT_EQ(event.Wait(0), -1);
  event.Set();
  event.Reset();
  EXPECT_EQ(event.Wait(0), -1);
}

TEST(VexaEvent, ManualResetReleasesEveryWaiter) {
  CVexaEvent event(nullptr, true);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      if (event.Wait() == 0) ++released;
    });
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(released, 0);
  event.Set();
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(released, 4);
  EXPECT_EQ(event.Wait(0), 0);  // stays set
  event.Reset();
  EXPECT_EQ(event.Wait(0), -1);
}

TEST(VexaEvent, AutoResetWakesExactlyOneOfManyWaiters) {
  CVexaEvent event;
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      if (event.Wait() == 0) ++released;
    });
  event.Set();  // whether or not the waiters wait yet, the one signal frees one of them
  while (released == 0) std::this_thread::yield();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(released, 1);
  event.Set();
  while (released < 2) std::this_thread::yield();
  event.Set();
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(released, 3);
}

TEST(VexaEvent, DefaultTimeout) {
  CVexaEvent event(nullptr, false, 40);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(event.Wait(), -1);  // kVexaInfinite means the default: 40 ms
  EXPECT_GE(std::chrono::steady_clock::now() - before, 35ms);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
}

TEST(VexaEvent, NamedEventsOfTheSameNameInOneProcessAreOne) {
  const std::string name = UniqueName("event");
  CVexaEvent a(name.c_str());
  CVexaEvent b(name.c_str());
  std::thread waiter([&] { EXPECT_EQ(b.Wait(5000), 0); });
  std::this_thread::sleep_for(20ms);
  a.Set();
  waiter.join();
}
