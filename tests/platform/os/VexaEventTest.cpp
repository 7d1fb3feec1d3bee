#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/os/VexaEvent.h"
#include "tests/platform/os/ChildProcess.h"

using namespace VexaOS;
using namespace std::chrono_literals;

TEST(VexaEvent, TimesOutAfterTheGivenOrTheDefaultTime) {
  CVexaEvent event(nullptr, false, 40);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(event.Wait(), kOsTimedOut);  // kVexaInfinite means the default: 40 ms
  EXPECT_GE(std::chrono::steady_clock::now() - before, 35ms);
  EXPECT_EQ(event.Wait(0), kOsTimedOut);
  event.Set();
  event.Reset();
  EXPECT_EQ(event.Wait(0), kOsTimedOut);
}

TEST(VexaEvent, ManualResetReleasesEveryWaiterAndStaysSet) {
  CVexaEvent event(nullptr, true);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) waiters.emplace_back([&] { released += event.Wait() == kOsOk; });
  event.Set();
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(released, 4);
  EXPECT_EQ(event.Wait(0), kOsOk);
}

TEST(VexaEvent, AutoResetWakesExactlyOneWaiterPerSignal) {
  CVexaEvent event;
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { released += event.Wait() == kOsOk; });
  event.Set();  // whether or not the waiters wait yet, the one signal frees one of them
  while (released == 0) std::this_thread::yield();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(released, 1);
  event.Set();
  while (released < 2) std::this_thread::yield();
  event.Set();
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(released, 3);
  EXPECT_EQ(event.Wait(0), kOsTimedOut);
}

TEST(VexaEvent, NamedEventsOfTheSameNameInOneProcessAreOne) {
  const std::string name = UniqueName("event");
  CVexaEvent a(name.c_str()), b(name.c_str());
  std::thread waiter([&] { EXPECT_EQ(b.Wait(5000), kOsOk); });
  a.Set();
  waiter.join();
}
