#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/os/VexaThread.h"

using namespace VexaOS;

namespace {

struct Seen {
  std::atomic<int> passes{0};
  std::atomic<uint32_t> userValue{0};
  std::atomic<bool> finished{false};
};

uint32_t PollUntilStopped(std::atomic<uint8_t>* stop, void* argument, uint32_t userValue) {
  auto* seen = static_cast<Seen*>(argument);
  seen->userValue = userValue;
  while (!stop->load()) {
    ++seen->passes;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  seen->finished = true;
  return 0;
}

}  // namespace

TEST(VexaThread, RunsUntilStoppedAndRestarts) {
  Seen seen, again;
  CVexaThread thread;
  EXPECT_EQ(thread.WaitDone(0), kOsOk);  // no thread yet: done
  EXPECT_EQ(thread.Start(nullptr, nullptr), kOsFailed);
  thread.SetUserValue(77);
  ASSERT_EQ(thread.Start(PollUntilStopped, &seen), kOsOk);
  while (seen.passes == 0) std::this_thread::yield();  // running, however late it was scheduled
  EXPECT_EQ(thread.WaitDone(30), kOsTimedOut);
  thread.Stop();
  EXPECT_TRUE(seen.finished);
  EXPECT_EQ(seen.userValue, 77u);
  EXPECT_EQ(thread.WaitDone(0), kOsOk);
  ASSERT_EQ(thread.Start(PollUntilStopped, &again), kOsOk);
  thread.Stop(true);  // without waiting: still running until it sees the flag
  EXPECT_EQ(thread.WaitDone(5000), kOsOk);
  EXPECT_TRUE(again.finished);
}
