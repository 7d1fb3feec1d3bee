#include "platform/os/VexaThread.h"
#include "platform/os/OsResult.h"

namespace VexaOS {

CVexaThread::CVexaThread() { m_done.Set(); }

CVexaThread::~CVexaThread() { Stop(false); }

void CVexaThread::Run(CVexaThread* self, VexaThreadProc procedure, void* argument, uint32_t userValue,
                      uint32_t priority) {
  if (priority != kThreadPriorityNormal) SetCurrentThreadPriority(priority);
  procedure(&self->m_stop, argument, userValue);
  self->m_done.Set();
}

int32_t CVexaThread::Start(VexaThreadProc procedure, void* argument) {
  if (m_thread.joinable()) Stop(false);
  m_procedure = procedure;
  m_argument = argument;
  if (!procedure) return kOsFailed;
  m_done.Reset();
  m_stop.store(0);
  try {
    m_thread = std::thread(Run, this, procedure, argument, m_userValue, m_priority);
  } catch (...) {
    m_done.Set();
    return kOsFailed;
  }
  return kOsOk;
}

void CVexaThread::Stop(bool noWait) {
  if (!m_thread.joinable()) return;
  m_stop.store(1);
  if (noWait) return;
  m_done.Wait(kVexaInfinite);
  m_thread.join();
}

}  // namespace VexaOS
