#include "platform/os/VexaThread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace VexaOS {
namespace {

// Nice values standing for the five priorities.
constexpr int kNice[] = {10, 5, 0, -5, -10};

}  // namespace

void SetCurrentThreadPriority(uint32_t index) {
  if (index <= kThreadPriorityTimeCritical)
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kNice[index]);
}

}  // namespace VexaOS
