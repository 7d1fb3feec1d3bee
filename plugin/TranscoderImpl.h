// The transcoder object: offers transcoded resources and creates, counts, parks and reuses the
// jobs that serve them.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "interfaces/NetLock.h"
#include "interfaces/RefCounters.h"
#include "interfaces/public/TranscoderInterfaces.h"

namespace NS = Stackvale::NetworkStreaming;

class CTranscoderImpl : public NS::IUpnpTranscoder,
                        public NS::ITranscoderJobCallbacks,
                        public CRefCounter,
                        public NS::ITranscoder {
 public:
  static constexpr size_t kMaxActiveJobs = 3;
  static constexpr int32_t kAdmissionBudgetMs = 15000;
  static constexpr int32_t kAdmissionStepMs = 10;

  CTranscoderImpl() = default;
  ~CTranscoderImpl() override;

  // Sets the started flag, creates the profile, prototype and job-list locks and the prototypes.
  void Initialise();

  // One count for every face.
  int32_t AddRef() override { return CRefCounter::AddRef(); }
  int32_t Release() override { return CRefCounter::Release(); }

  // IUpnpTranscoder
  int32_t OfferResources(NS::IClientRequest* request, NS::IMediaItem* item,
                         NS::ResourceOffer** list, uint32_t* count) override;
  void FreeResourceList(NS::ResourceOffer* list, uint32_t count) override;
  int32_t CreateJob(const char16_t* path, const char* mime, uint32_t index,
                    NS::IJobListener* listener, NS::ITranscoderJob** job) override;
  virtual void CreateJobPrototypes();

  // ITranscoderJobCallbacks
  void OnJobReleased(NS::ITranscoderJob* job) override;
  int32_t ForwardRequest(NS::ITranscoderJob* job, int32_t code) override;

  // ITranscoder
  void SetHost(NS::ITranscoderHost* host) override { m_host = host; }
  int32_t GetUpnpTranscoder(NS::IUpnpTranscoder** out) override;
  int32_t SetClientProfile(const char* clientId, int32_t profile) override;

  NS::ITranscoder* TranscoderFace() { return this; }

 protected:
  // Appends a prototype; null (one that could not be made) is skipped.
  void AddPrototype(NS::ITranscoderJob* prototype);
  // Tests shorten the wait for a free job place.
  void SetAdmissionBudget(int32_t ms) { m_admissionBudgetMs = ms; }

 private:
  int32_t ResolveProfile(NS::IClientRequest* request);
  bool WaitForFreePlace();
  NS::ITranscoderJob* TakeParkedJob(const char16_t* path, const char* mime,
                                    NS::IJobListener* listener, int32_t* openStatus);

  bool m_started = false;
  NS::ITranscoderHost* m_host = nullptr;
  std::vector<NS::ITranscoderJob*> m_prototypes;
  std::list<NS::ITranscoderJob*> m_activeJobs;
  std::list<NS::ITranscoderJob*> m_parkedJobs;  // oldest first
  CNetMutex m_profileLock;
  std::map<std::string, int32_t> m_clientProfiles;
  CNetMutex m_prototypeLock;
  CNetMutex m_jobListLock;
  int32_t m_admissionBudgetMs = kAdmissionBudgetMs;
};
