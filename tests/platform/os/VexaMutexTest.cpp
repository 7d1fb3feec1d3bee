#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/os/VexaMutex.h"

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
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(entered);
  EXPECT_EQ(mutex.Unlock(), kOsOk);
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(entered);
  EXPECT_EQ(mutex.Unlock(), kOsOk);
  other.join();
  EXPECT_TRUE(entered);
  {
    CAutoMutex released(&mutex);
    EXPECT_EQ(mutex.Timeout(), kVexaNoTimeout);
    released.Release();  // unlocks now, not again at the end
    std::thread([&] {
      EXPECT_EQ(mutex.Lock(0), kOsOk);
      mutex.Unlock();
    }).join();
  }
  CAutoMutex nothing(nullptr);
}
