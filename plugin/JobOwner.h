// The owner every job of one transcoder object is given: it keeps the active and parked jobs,
// counts the job places, relays each job's events to the listener of the request it serves,
// and forwards a job's requests to the host. Jobs reach it only through
// ITranscoderJobCallbacks; it knows them only through ITranscoderJob.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "interfaces/NetLock.h"
#include "interfaces/public/TranscoderInterfaces.h"

namespace NS = Stackvale::NetworkStreaming;

// The listener a job is opened with. It passes events on to the listener of the request the
// job serves now; a released job's events reach nobody. Detaching waits for an event being
// passed on, so once the last Release has returned the host's listener is never called again.
class CListenerRelay : public NS::IJobListener {
 public:
  void OnJobEvent(NS::ITranscoderJob* job, int32_t event, int32_t a, int32_t b) override;
  void Attach(NS::IJobListener* listener);

 private:
  // Recursive: a listener may release the job from inside OnJobEvent.
  std::recursive_mutex m_lock;
  NS::IJobListener* m_listener = nullptr;
};

// One job with what it was opened for. Declared so that the job goes before its relay.
struct JobEntry {
  std::unique_ptr<CListenerRelay> relay;
  std::unique_ptr<NS::ITranscoderJob> job;
  std::u16string path;      // the source the job was opened with
  std::string outputMime;   // the job's output MIME type
  bool needsOpen = false;   // a parked job taken for another source
};

class CJobOwner : public NS::ITranscoderJobCallbacks {
 public:
  static constexpr size_t kMaxActiveJobs = 3;
  static constexpr int32_t kAdmissionStepMs = 10;

  // Every active job holds a reference to `transcoder`, dropped when the job is parked.
  explicit CJobOwner(NS::INetRefCounted& transcoder) : m_transcoder(transcoder) {}
  CJobOwner(const CJobOwner&) = delete;
  CJobOwner& operator=(const CJobOwner&) = delete;

  void CreateLock() { m_lock.Create(); }
  void DestroyLock() { m_lock.Destroy(); }
  void DestroyParkedJobs();
  void SetHost(NS::ITranscoderHost* host) { m_host = host; }

  // Takes a job place, waiting up to budgetMs for one to come free. The place is taken when
  // it is granted: a caller gives it back (ReturnPlace) or fills it (Activate).
  bool TakePlace(int32_t budgetMs);
  void ReturnPlace();
  // For a caller holding a place: a parked job of the same source and output type, ready as
  // it is; or, when the places and parked jobs fill the house, a parked job of the same
  // output type to re-open (needsOpen), else the oldest parked job is destroyed to make room.
  std::unique_ptr<JobEntry> TakeParkedJob(const char16_t* path, const char* mime);
  // The job in entry becomes active in the caller's place, its events going to listener.
  NS::ITranscoderJob* Activate(std::unique_ptr<JobEntry> entry, NS::IJobListener* listener);

  // ITranscoderJobCallbacks
  void OnJobReleased(NS::ITranscoderJob* job) override;
  int32_t ForwardRequest(NS::ITranscoderJob* job, int32_t code) override;

  // The answer to a request when no host is registered.
  static constexpr int32_t kNoHostAnswer = 1;

 private:
  using Entries = std::list<std::unique_ptr<JobEntry>>;
  Entries::iterator FindActive(NS::ITranscoderJob* job);

  NS::INetRefCounted& m_transcoder;
  std::atomic<NS::ITranscoderHost*> m_host{nullptr};
  CNetMutex m_lock;  // the job-list lock: both lists and the places
  Entries m_active;
  Entries m_parked;      // oldest first
  size_t m_placesTaken = 0;  // active jobs and places granted but not filled yet
};
