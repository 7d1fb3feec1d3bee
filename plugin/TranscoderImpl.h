// The transcoder object: offers transcoded resources and creates, counts, parks and reuses the
// jobs that serve them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "interfaces/NetLock.h"
#include "interfaces/RefCounters.h"
#include "interfaces/public/TranscoderInterfaces.h"
#include "plugin/JobOwner.h"

namespace NS = Stackvale::NetworkStreaming;

class CTranscoderImpl : public NS::IUpnpTranscoder, public CRefCounter, public NS::ITranscoder {
 public:
  static constexpr int32_t kAdmissionBudgetMs = 15000;
  // GetUpnpTranscoder's answer to a null out pointer.
  static constexpr int32_t kNoOutPointer = -2;

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

  // ITranscoder
  void SetHost(NS::ITranscoderHost* host) override { m_jobOwner.SetHost(host); }
  int32_t GetUpnpTranscoder(NS::IUpnpTranscoder** out) override;
  int32_t SetClientProfile(const char* clientId, int32_t profile) override;

  NS::ITranscoder* TranscoderFace() { return this; }
  // What every job of this object is given as its owner.
  NS::ITranscoderJobCallbacks* JobCallbacks() { return &m_jobOwner; }

 protected:
  // Appends a prototype; null (one that could not be made) is skipped.
  void AddPrototype(NS::ITranscoderJob* prototype);
  // Tests shorten the wait for a free job place.
  void SetAdmissionBudget(int32_t ms) { m_admissionBudgetMs = ms; }

 private:
  using JobPtr = std::unique_ptr<NS::ITranscoderJob>;

  int32_t ResolveProfile(NS::IClientRequest* request);
  // A fresh job of the kind at index, made under the prototype lock; null when none.
  JobPtr MakeJob(uint32_t index);
  size_t PrototypeCount();
  // With a job place taken: the job that serves the request, opened; or the result code.
  int32_t ObtainJob(const char16_t* path, const char* mime, uint32_t index,
                    std::unique_ptr<JobEntry>& entry);

  bool m_started = false;
  std::vector<JobPtr> m_prototypes;
  CNetMutex m_profileLock;
  std::map<std::string, int32_t> m_clientProfiles;
  CNetMutex m_prototypeLock;
  CJobOwner m_jobOwner{static_cast<CRefCounter&>(*this)};  // holds the job-list lock
  int32_t m_admissionBudgetMs = kAdmissionBudgetMs;
};
