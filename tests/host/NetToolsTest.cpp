#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "interfaces/sv_net_tools.h"

namespace {

NetHandle MakeEvent(bool manual, bool initial = false) {
  NetHandle event = nullptr;
  EXPECT_EQ(NetEventCreate(&event, manual ? 1 : 0, initial ? 1 : 0, 0), 0);
  return event;
}

TEST(NetEvent, AutoResetReleasesOneWaitAndTimedWaitsEnd) {
  NetHandle event = MakeEvent(false, true);
  EXPECT_EQ(NetEventWait(event, 0), kNetWaitSignalled);
  EXPECT_EQ(NetEventWait(event, 0), kNetWaitTimeout);  // polls without blocking
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(NetEventWait(event, 30), kNetWaitTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(25));
  NetEventDestroy(event);
}

TEST(NetEvent, ManualResetStaysSetAndReleasesEveryWaiter) {
  NetHandle event = MakeEvent(true);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] { released += NetEventWait(event, kNetWaitInfinite) == kNetWaitSignalled; });
  NetEventSet(event);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 4);
  EXPECT_EQ(NetEventWait(event, 10), kNetWaitSignalled);
  NetEventDestroy(event);
}

struct ThreadArgs {
  std::atomic<int> value{0};
  NetHandle gate = nullptr;
};

uint32_t ThreadBody(void* argument) {
  auto* args = static_cast<ThreadArgs*>(argument);
  NetEventWait(args->gate, kNetWaitInfinite);
  args->value = 42;
  return NetThreadExit(argument);
}

TEST(NetThread, RunsProcedureWithArgumentAndJoins) {
  ThreadArgs args;
  args.gate = MakeEvent(true);
  NetHandle thread = nullptr;
  ASSERT_EQ(NetThreadCreate(&thread, ThreadBody, &args, 0), 0);
  EXPECT_EQ(NetThreadJoin(thread, 20), kNetWaitTimeout);  // still held at the gate
  NetEventSet(args.gate);
  EXPECT_EQ(NetThreadJoin(thread, kNetWaitInfinite), kNetWaitSignalled);
  EXPECT_EQ(args.value.load(), 42);
  NetThreadClose(thread);
  NetEventDestroy(args.gate);
}

TEST(NetMutex, SerialisesCounters) {
  NetHandle mutex = nullptr;
  ASSERT_EQ(NetMutexCreate(&mutex, 0), 0);
  int counter = 0;
  std::vector<std::thread> workers;
  for (int i = 0; i < 4; ++i)
    workers.emplace_back([&] {
      for (int n = 0; n < 10000; ++n) {
        NetMutexLock(mutex);
        ++counter;
        NetMutexUnlock(mutex);
      }
    });
  for (auto& t : workers) t.join();
  EXPECT_EQ(counter, 40000);
  NetMutexDestroy(mutex);
}

}  // namespace
