#include <gtest/gtest.h>

#include <vector>

#include "interfaces/sv_net_tools.h"

namespace {

NetHandle MakeEvent(bool manual, bool initial = false) {
  NetHandle event = nullptr;
  EXPECT_EQ(NetEventCreate(&event, manual ? 1 : 0, initial ? 1 : 0, 0), 0);
  return event;
}

// An automatic reset releases one wait and timed waits end; a manual reset stays set and
// releases every waiter (here, threads of the tools' own kind behind a mutex).
TEST(NetTools, EventsThreadsAndMutex) {
  NetHandle automatic = MakeEvent(false, true), manual = MakeEvent(true), mutex = nullptr;
  EXPECT_EQ(NetEventWait(automatic, 0), kNetWaitSignalled);
  EXPECT_EQ(NetEventWait(automatic, 0), kNetWaitTimeout);  // polls without blocking
  EXPECT_EQ(NetEventWait(automatic, 30), kNetWaitTimeout);
  ASSERT_EQ(NetMutexCreate(&mutex, 0), 0);
  struct Shared {
    NetHandle gate, mutex;
    int counter = 0;
  } shared{manual, mutex};
  NetThreadProc body = [](void* argument) -> uint32_t {
    auto* shared = static_cast<Shared*>(argument);
    if (NetEventWait(shared->gate, kNetWaitInfinite) != kNetWaitSignalled) return NetThreadExit(argument);
    for (int n = 0; n < 10000; ++n) {
      NetMutexLock(shared->mutex);
      ++shared->counter;
      NetMutexUnlock(shared->mutex);
    }
    return NetThreadExit(argument);
  };
  std::vector<NetHandle> threads(4);
  for (NetHandle& thread : threads) ASSERT_EQ(NetThreadCreate(&thread, body, &shared, 0), 0);
  EXPECT_EQ(NetThreadJoin(threads[0], 20), kNetWaitTimeout);  // still held at the gate
  NetEventSet(manual);
  for (NetHandle thread : threads) {
    EXPECT_EQ(NetThreadJoin(thread, kNetWaitInfinite), kNetWaitSignalled);
    NetThreadClose(thread);
  }
  EXPECT_EQ(shared.counter, 40000);
  EXPECT_EQ(NetEventWait(manual, 10), kNetWaitSignalled);
  NetMutexDestroy(mutex);
  NetEventDestroy(manual);
  NetEventDestroy(automatic);
}

}  // namespace
