#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/os/VexaTime.h"

using namespace VexaOS;
using namespace std::chrono_literals;

namespace {

// Whole milliseconds since `from`, rounded up, plus one for the watch's own rounding: no reading
// taken inside that span can exceed it, however slowly this machine runs.
uint64_t AtMostSince(std::chrono::steady_clock::time_point from) {
  return std::chrono::ceil<std::chrono::milliseconds>(std::chrono::steady_clock::now() - from).count() + 1;
}

}  // namespace

// Readings are checked against the wall time measured around them, never against a guess of
// how long a sleep takes.
TEST(VexaTime, CountsOnlyWhileRunningPlusTheOffset) {
  CVexaTime watch;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(watch.Elapsed(), 0u);  // never started
  EXPECT_EQ(watch.State(), CVexaTime::kStopped);
  watch.SetOffset(5000);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(watch.Start(), 0);
  std::this_thread::sleep_for(30ms);
  watch.Stop();
  const uint64_t stopped = watch.Elapsed();
  EXPECT_GE(stopped, 5030u);
  EXPECT_LE(stopped, 5000 + AtMostSince(started));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(watch.Elapsed(), stopped);  // the stopped time does not count
  const auto restarted = std::chrono::steady_clock::now();
  EXPECT_EQ(watch.Start(), 0);
  EXPECT_EQ(watch.Start(), 0);  // already running: nothing changes
  const uint64_t running = watch.Elapsed();
  EXPECT_GE(running, stopped);
  EXPECT_LE(running - stopped, AtMostSince(restarted));
}
