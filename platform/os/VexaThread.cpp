#include "platform/os/VexaThread.h"
#include "platform/os/OsResult.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace VexaOS {
namespace {

// Nice values standing for the five priorities.
constexpr int kNice[] = {10, 5, 0, -5, -10};

}  // namespace

CVexaThread::CVexaThread() { done_.Set(); }

CVexaThread::~CVexaThread() { Stop(false); }

void CVexaThread::Run(CVexaThread* self, VexaThreadProc procedure, void* argument, uint32_t userValue,
                      uint32_t priority) {
  if (priority != kThreadPriorityNormal)
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kNice[priority]);
  procedure(&self->stop_, argument, userValue);
  self->done_.Set();
}

int32_t CVexaThread::Start(VexaThreadProc procedure, void* argument) {
  if (thread_.joinable()) Stop(false);
  procedure_ = procedure;
  argument_ = argument;
  if (!procedure) return kOsFailed;
  done_.Reset();
  stop_.store(0);
  try {
    thread_ = std::thread(Run, this, procedure, argument, userValue_, priority_);
  } catch (...) {
    done_.Set();
    return kOsFailed;
  }
  return kOsOk;
}

void CVexaThread::Stop(bool noWait) {
  if (!thread_.joinable()) return;
  stop_.store(1);
  if (noWait) return;
  done_.Wait(kVexaInfinite);
  thread_.join();
}

}  // namespace VexaOS
