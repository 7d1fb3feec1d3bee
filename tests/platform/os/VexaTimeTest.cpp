#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/os/VexaTime.h"

using namespace VexaOS;
using namespace std::chrono_literals;

TEST(VexaTime, NeverStartedReadsZero) {
  CVexaTime watch;
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(watch.Elapsed(), 0u);
  EXPECT_EQ(watch.State(), CVexaTime::kStopped);
}

TEST(VexaTime, CountsFromStart) {
  CVexaTime watch;
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(watch.Start(), 0);
  EXPECT_LT(watch.Elapsed(), 40u);
  std::this_thread::sleep_for(60ms);
  const uint64_t elapsed = watch.Elapsed();
  EXPECT_GE(elapsed, 60u);
  EXPECT_LT(elapsed, 1000u);
  EXPECT_EQ(watch.Start(), 0);  // already running: nothing changes
  EXPECT_GE(watch.Elapsed(), elapsed);
}

TEST(VexaTime, StopKeepsTheReadingAndOffsetAdds) {
  CVexaTime watch;
  watch.SetOffset(5000);
  EXPECT_EQ(watch.Elapsed(), 5000u);
  watch.Start();
  std::this_thread::sleep_for(30ms);
  watch.Stop();
  const uint64_t stopped = watch.Elapsed();
  EXPECT_GE(stopped, 5030u);
  std::this_thread::sleep_for(40ms);
  EXPECT_EQ(watch.Elapsed(), stopped);
  watch.Start();
  EXPECT_LT(watch.Elapsed() - stopped, 20u);
}
