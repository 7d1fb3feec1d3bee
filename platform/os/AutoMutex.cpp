#include "platform/os/VexaMutex.h"

namespace VexaOS {

CAutoMutex::CAutoMutex(CVexaMutex* mutex) : m_mutex(mutex) {
  if (m_mutex) {
    m_mutex->SetTimeout(kVexaNoTimeout);
    m_mutex->Lock(kVexaNoTimeout);
  }
}

CAutoMutex::~CAutoMutex() { Release(); }

void CAutoMutex::Release() {
  if (!m_released && m_mutex) m_mutex->Unlock();
  m_released = true;
  m_mutex = nullptr;
}

}  // namespace VexaOS
