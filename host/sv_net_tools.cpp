// The stand-in for the streaming stack's primitives, on the C++ standard library.
#include "interfaces/sv_net_tools.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace {

// What the creating and locking primitives answer.
constexpr int32_t kNetOk = 0;
constexpr int32_t kNetFailed = -1;
// The code a thread procedure ends with through NetThreadExit.
constexpr uint32_t kThreadExitCode = 0;

struct NetEvent {
  std::mutex lock;
  std::condition_variable changed;
  bool signalled;
  bool manualReset;
};

// The thread's state outlives the handle when the handle is closed before the thread ends.
struct NetThreadState {
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
};

struct NetThread {
  std::thread thread;
  std::shared_ptr<NetThreadState> state;
};

bool WaitUntilSignalled(NetEvent& event, std::unique_lock<std::mutex>& held, int32_t timeoutMs) {
  auto isSet = [&] { return event.signalled; };
  // A poll never waits: a condition wait with an expired deadline still costs a system call,
  // and a worker polls its stop event once per sample.
  if (timeoutMs == 0) return event.signalled;
  if (timeoutMs < 0) {
    event.changed.wait(held, isSet);
    return true;
  }
  return event.changed.wait_for(held, std::chrono::milliseconds(timeoutMs), isSet);
}

}  // namespace

int32_t NetEventWait(NetHandle handle, int32_t timeoutMs) {
  auto* event = static_cast<NetEvent*>(handle);
  if (!event) return kNetWaitTimeout;
  std::unique_lock held(event->lock);
  if (!WaitUntilSignalled(*event, held, timeoutMs)) return kNetWaitTimeout;
  if (!event->manualReset) event->signalled = false;  // an auto-reset event releases one waiter
  return kNetWaitSignalled;
}

int32_t NetEventCreate(NetHandle* out, int32_t manualReset, int32_t initialState, int32_t) {
  if (!out) return kNetFailed;
  auto* event = new (std::nothrow) NetEvent{{}, {}, initialState != 0, manualReset != 0};
  *out = event;
  return event ? kNetOk : kNetFailed;
}

void NetEventDestroy(NetHandle handle) { delete static_cast<NetEvent*>(handle); }

int32_t NetEventSet(NetHandle handle) {
  auto* event = static_cast<NetEvent*>(handle);
  if (!event) return kNetFailed;
  {
    std::lock_guard held(event->lock);
    event->signalled = true;
  }
  if (event->manualReset)
    event->changed.notify_all();
  else
    event->changed.notify_one();
  return kNetOk;
}

int32_t NetThreadCreate(NetHandle* out, NetThreadProc procedure, void* argument, int32_t) {
  if (!out || !procedure) return kNetFailed;
  *out = nullptr;
  auto* handle = new (std::nothrow) NetThread;
  if (!handle) return kNetFailed;
  handle->state = std::make_shared<NetThreadState>();
  try {
    handle->thread = std::thread([procedure, argument, state = handle->state] {
      procedure(argument);
      std::lock_guard held(state->lock);
      state->done = true;
      state->ended.notify_all();
    });
  } catch (...) {
    delete handle;
    return kNetFailed;
  }
  *out = handle;
  return kNetOk;
}

int32_t NetThreadJoin(NetHandle handle, int32_t timeoutMs) {
  auto* thread = static_cast<NetThread*>(handle);
  if (!thread) return kNetFailed;
  {
    std::unique_lock held(thread->state->lock);
    auto isDone = [&] { return thread->state->done; };
    if (timeoutMs < 0)
      thread->state->ended.wait(held, isDone);
    else if (!thread->state->ended.wait_for(held, std::chrono::milliseconds(timeoutMs), isDone))
      return kNetWaitTimeout;
  }
  if (thread->thread.joinable()) thread->thread.join();
  return kNetWaitSignalled;
}

void NetThreadClose(NetHandle handle) {
  auto* thread = static_cast<NetThread*>(handle);
  if (!thread) return;
  if (thread->thread.joinable()) {
    if (thread->thread.get_id() == std::this_thread::get_id())
      thread->thread.detach();
    else {
      bool done;
      {
        std::lock_guard held(thread->state->lock);
        done = thread->state->done;
      }
      if (done)
        thread->thread.join();
      else
        thread->thread.detach();  // closing a handle does not stop the thread
    }
  }
  delete thread;
}

uint32_t NetThreadExit(void*) { return kThreadExitCode; }

int32_t NetMutexCreate(NetHandle* out, int32_t) {
  if (!out) return kNetFailed;
  auto* mutex = new (std::nothrow) std::mutex;
  *out = mutex;
  return mutex ? kNetOk : kNetFailed;
}

void NetMutexDestroy(NetHandle handle) { delete static_cast<std::mutex*>(handle); }

void NetMutexLock(NetHandle handle) { static_cast<std::mutex*>(handle)->lock(); }

void NetMutexUnlock(NetHandle handle) { static_cast<std::mutex*>(handle)->unlock(); }
