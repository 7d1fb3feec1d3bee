#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/os/VexaMutex.h"

using namespace VexaOS;
using namespace std::chrono_literals;

TEST(VexaMutex, UnnamedIsRecursiveAndExcludesOtherThreads) {
  CVexaMutex mutex;
  EXPECT_FALSE(mutex.IsNamed());
  ASSERT_EQ(mutex.Lock(), 0);
  ASSERT_EQ(mutex.Lock(0), 0);  // the owner enters again
  std::atomic<bool> entered{false};
  std::thread other([&] {
    mutex.Lock();
    entered = true;
    mutex.Unlock();
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(entered);
  EXPECT_EQ(mutex.Unlock(), 0);
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(entered);
  EXPECT_EQ(mutex.Unlock(), 0);
  other.join();
  EXPECT_TRUE(entered);
}

TEST(CAutoMutex, LocksForItsLifetime) {
  CVexaMutex mutex(nullptr, 100);
  std::atomic<bool> entered{false};
  std::thread other;
  {
    CAutoMutex hold(&mutex);
    EXPECT_EQ(mutex.Timeout(), -1);
    other = std::thread([&] {
      mutex.Lock();
      entered = true;
      mutex.Unlock();
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(entered);
  }
  other.join();
  EXPECT_TRUE(entered);
  {
    CAutoMutex released(&mutex);
    released.Release();
    std::thread third([&] { EXPECT_EQ(mutex.Lock(), 0); mutex.Unlock(); });
    third.join();
  }
  CAutoMutex nothing(nullptr);
  nothing.Release();
}
