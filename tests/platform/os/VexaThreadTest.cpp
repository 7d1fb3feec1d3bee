#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/os/VexaThread.h"

using namespace VexaOS;
using namespace std::chrono_literals;

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
    std::this_thread::sleep_for(1ms);
  }
  seen->finished = true;
  return 0;
}

uint32_t ReturnAtOnce(std::atomic<uint8_t>*, void* argument, uint32_t) {
  static_cast<Seen*>(argument)->finished = true;
  return 0;
}

}  // namespace

TEST(VexaThread, RunsUntilStopped) {
  Seen seen;
  CVexaThread thread;
  EXPECT_EQ(thread.Priority(), kThreadPriorityNormal);
  EXPECT_EQ(thread.UserValue(), 0u);
  EXPECT_EQ(thread.WaitDone(0), 0);  // no thread yet: done
  thread.SetUserValue(77);
  ASSERT_EQ(thread.Start(PollUntilStopped, &seen), 0);
  while (seen.passes == 0) std::this_thread::yield();  // running, however late it was scheduled
  EXPECT_EQ(thread.WaitDone(30), -1);
  thread.Stop();
  EXPECT_TRUE(seen.finished);
  EXPECT_GT(seen.passes, 0);
  EXPECT_EQ(seen.userValue, 77u);
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_EQ(thread.WaitDone(0), 0);
}

TEST(VexaThread, StopWithoutWaitingThenDestruction) {
  Seen seen;
  {
    CVexaThread thread;
    thread.SetPriority(kThreadPriorityLowest);
    ASSERT_EQ(thread.Start(PollUntilStopped, &seen), 0);
    thread.Stop(true);
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_EQ(thread.WaitDone(5000), 0);
  }
  EXPECT_TRUE(seen.finished);
}

TEST(VexaThread, NoProcedureStartsNothing) {
  CVexaThread thread;
  EXPECT_EQ(thread.Start(nullptr, nullptr), -1);
  EXPECT_FALSE(thread.IsRunning());
  thread.Stop();
}

TEST(VexaThread, RestartAfterTheProcedureReturned) {
  Seen first;
  Seen second;
  CVexaThread thread;
  ASSERT_EQ(thread.Start(ReturnAtOnce, &first), 0);
  EXPECT_EQ(thread.WaitDone(5000), 0);
  ASSERT_EQ(thread.Start(ReturnAtOnce, &second), 0);  // the first thread is let go first
  thread.Stop();
  EXPECT_TRUE(first.finished);
  EXPECT_TRUE(second.finished);
}
