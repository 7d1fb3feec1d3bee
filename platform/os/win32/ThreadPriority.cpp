#include "platform/os/VexaThread.h"

#include <windows.h>

namespace VexaOS {
namespace {

constexpr int kPriority[] = {THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                             THREAD_PRIORITY_HIGHEST, THREAD_PRIORITY_TIME_CRITICAL};

}  // namespace

void SetCurrentThreadPriority(uint32_t index) {
  if (index <= kThreadPriorityTimeCritical) ::SetThreadPriority(::GetCurrentThread(), kPriority[index]);
}

}  // namespace VexaOS
