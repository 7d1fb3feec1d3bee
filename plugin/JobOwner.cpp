#include "plugin/JobOwner.h"

#include <chrono>
#include <thread>

#include "platform/os/ProcessMemory.h"

void CListenerRelay::OnJobEvent(NS::ITranscoderJob* job, int32_t event, int32_t a, int32_t b) {
  std::lock_guard hold(m_lock);
  if (m_listener) m_listener->OnJobEvent(job, event, a, b);
}

void CListenerRelay::Attach(NS::IJobListener* listener) {
  std::lock_guard hold(m_lock);
  m_listener = listener;
}

void CJobOwner::DestroyParkedJobs() {
  Entries parked;
  {
    CNetLock hold(m_lock);
    parked.swap(m_parked);
  }
  // Destroyed outside the lock: a job's teardown may take its time.
}

bool CJobOwner::TakePlace(int32_t budgetMs) {
  for (;;) {
    {
      CNetLock hold(m_lock);
      if (m_placesTaken < kMaxActiveJobs) {
        ++m_placesTaken;
        return true;
      }
    }
    if (budgetMs <= 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kAdmissionStepMs));
    budgetMs -= kAdmissionStepMs;
  }
}

void CJobOwner::ReturnPlace() {
  CNetLock hold(m_lock);
  --m_placesTaken;
}

std::unique_ptr<JobEntry> CJobOwner::TakeParkedJob(const char16_t* path, const char* mime) {
  std::unique_ptr<JobEntry> taken;
  std::unique_ptr<JobEntry> makingRoom;  // destroyed after the lock is released
  CNetLock hold(m_lock);
  auto sameType = [mime](const auto& entry) { return mime && entry->outputMime == mime; };
  for (auto it = m_parked.begin(); it != m_parked.end(); ++it) {
    if ((*it)->path != path || !sameType(*it)) continue;
    taken = std::move(*it);
    m_parked.erase(it);
    return taken;
  }
  // The caller's own place is among those taken.
  if (m_parked.empty() || m_placesTaken - 1 + m_parked.size() < kMaxActiveJobs) return nullptr;
  for (auto it = m_parked.begin(); it != m_parked.end(); ++it) {
    if (!sameType(*it)) continue;
    taken = std::move(*it);
    m_parked.erase(it);
    taken->needsOpen = true;
    return taken;
  }
  makingRoom = std::move(m_parked.front());
  m_parked.pop_front();
  return nullptr;
}

NS::ITranscoderJob* CJobOwner::Activate(std::unique_ptr<JobEntry> entry,
                                        NS::IJobListener* listener) {
  entry->needsOpen = false;
  entry->relay->Attach(listener);
  NS::ITranscoderJob* job = entry->job.get();
  CNetLock hold(m_lock);
  m_active.push_back(std::move(entry));
  return job;
}

CJobOwner::Entries::iterator CJobOwner::FindActive(NS::ITranscoderJob* job) {
  for (auto it = m_active.begin(); it != m_active.end(); ++it)
    if ((*it)->job.get() == job) return it;
  return m_active.end();
}

void CJobOwner::OnJobReleased(NS::ITranscoderJob* job) {
  CListenerRelay* relay = nullptr;
  {
    CNetLock hold(m_lock);
    auto found = FindActive(job);
    if (found != m_active.end()) relay = (*found)->relay.get();
  }
  // The entry stays active until it is parked below, so the relay lives on meanwhile.
  if (relay) relay->Attach(nullptr);
  job->Stop();
  bool lastJobEnded = false;
  {
    CNetLock hold(m_lock);
    auto found = FindActive(job);
    if (found == m_active.end()) return;
    m_parked.push_back(std::move(*found));
    m_active.erase(found);
    --m_placesTaken;
    lastJobEnded = m_active.empty();
  }
  // A stopped job keeps little; what its streams used is free in the heap, and a server at
  // rest should give it back.
  if (lastJobEnded) VexaOS::ReturnFreeMemory();
  // Dropped after the lock is released: this may be the transcoder's last reference, and
  // the lock dies with it.
  m_transcoder.Release();
}

int32_t CJobOwner::ForwardRequest(NS::ITranscoderJob*, int32_t code) {
  NS::ITranscoderHost* host = m_host;
  return host ? host->ForwardRequest(code) : kNoHostAnswer;
}
