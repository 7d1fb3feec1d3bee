#include "plugin/TranscoderImpl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "jobs/TranscodeJobASF.h"
#include "jobs/TranscodeJobMPEG2.h"
#include "plugin/ClientProfiles.h"

namespace {

constexpr char kProtocolInfoName[] = "res@protocolInfo";
constexpr char kDurationName[] = "res@duration";

bool SameWidePath(const char16_t* a, const char16_t* b) {
  if (!a || !b) return false;
  for (; *a && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}

bool SameMime(const char* jobMime, const char* mime) {
  return jobMime && mime && std::strcmp(jobMime, mime) == 0;
}

char* CopyString(const char* text) {
  size_t size = std::strlen(text) + 1;
  char* copy = new (std::nothrow) char[size];
  if (copy) std::memcpy(copy, text, size);
  return copy;
}

void FreeAttributes(NS::ResourceAttribute* attributes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    delete[] attributes[i].name;
    delete[] attributes[i].value;
  }
  delete[] attributes;
}

// Builds the two attributes of one offer; answers false (and frees what it made) when memory
// runs out, so that no partial list is ever handed out.
bool BuildOffer(NS::ITranscoderJob* prototype, uint32_t index, NS::ResourceOffer* offer) {
  const char* mime = prototype->GetMimeType();
  const char* profile = prototype->GetDlnaProfile();
  if (!mime || !profile) return false;
  auto* attributes = new (std::nothrow) NS::ResourceAttribute[2]();
  if (!attributes) return false;

  size_t infoSize = std::strlen(mime) + std::strlen(profile) + 13;
  char* info = new (std::nothrow) char[infoSize];
  if (info) std::snprintf(info, infoSize, "%s:%s:%s:%s", "http-get", "*", mime, profile);
  char* duration = new (std::nothrow) char[kDurationBufferSize];
  if (duration) FormatDuration(prototype->GetTranscodedDuration(), duration, kDurationBufferSize);

  attributes[0] = {CopyString(kProtocolInfoName), info};
  attributes[1] = {CopyString(kDurationName), duration};
  if (!attributes[0].name || !info || !attributes[1].name || !duration) {
    FreeAttributes(attributes, 2);
    return false;
  }
  *offer = {index, attributes, 2};
  return true;
}

}  // namespace

CTranscoderImpl::~CTranscoderImpl() {
  for (NS::ITranscoderJob* prototype : m_prototypes) delete prototype;
  m_prototypes.clear();
  for (NS::ITranscoderJob* job : m_parkedJobs) delete job;
  m_parkedJobs.clear();
  m_profileLock.Destroy();
  m_prototypeLock.Destroy();
  m_jobListLock.Destroy();
  m_clientProfiles.clear();
}

void CTranscoderImpl::Initialise() {
  if (m_started) return;
  m_started = true;
  m_profileLock.Create();
  m_prototypeLock.Create();
  m_jobListLock.Create();
  CreateJobPrototypes();
}

void CTranscoderImpl::CreateJobPrototypes() {
  // The index of a kind is its place here: 0 the ASF job, 1 the transport-stream job.
  AddPrototype(new (std::nothrow) CTranscodeJobASF(this));
  AddPrototype(new (std::nothrow) CTranscodeJobMPEG2(this));
}

void CTranscoderImpl::AddPrototype(NS::ITranscoderJob* prototype) {
  if (!prototype) return;
  CNetLock hold(m_prototypeLock);
  m_prototypes.push_back(prototype);
}

int32_t CTranscoderImpl::GetUpnpTranscoder(NS::IUpnpTranscoder** out) {
  if (!out) return -2;
  *out = this;
  return 0;
}

int32_t CTranscoderImpl::SetClientProfile(const char* clientId, int32_t profile) {
  if (!clientId) return 0;
  CNetLock hold(m_profileLock);
  m_clientProfiles.try_emplace(clientId, profile);
  return 0;
}

int32_t CTranscoderImpl::ForwardRequest(NS::ITranscoderJob*, int32_t code) {
  NS::ITranscoderHost* host = m_host;
  return host ? host->ForwardRequest(code) : 1;
}

int32_t CTranscoderImpl::ResolveProfile(NS::IClientRequest* request) {
  const char* clientId = request->GetClientId();
  std::string key = clientId ? clientId : "";
  CNetLock hold(m_profileLock);
  auto found = m_clientProfiles.find(key);
  if (found != m_clientProfiles.end() && found->second != ClientUnknown) return found->second;
  const char* userAgent = request->GetHeader(NS::kHeaderUserAgent);
  if (!userAgent) return ClientUnknown;
  ClientProfile profile = RecognizeClient(userAgent);
  if (IsCachedProfile(profile)) m_clientProfiles[key] = profile;
  return profile;
}

int32_t CTranscoderImpl::OfferResources(NS::IClientRequest* request, NS::IMediaItem* item,
                                        NS::ResourceOffer** list, uint32_t* count) {
  if (!request || !item || !list || !count) return NS::kTranscoderBadArgument;
  if (m_prototypes.empty()) return NS::kTranscoderNothingToOffer;
  int32_t profile = ResolveProfile(request);
  if (!IsServedProfile(profile)) return NS::kTranscoderNothingToOffer;

  std::vector<NS::ResourceOffer> offers;
  bool outOfMemory = false;
  {
    CNetLock hold(m_prototypeLock);
    const char16_t* path = item->GetSourcePath();
    const char* sourceMime = item->GetSourceMimeType();
    for (uint32_t index = 0; index < m_prototypes.size() && !outOfMemory; ++index) {
      NS::ITranscoderJob* prototype = m_prototypes[index];
      if (SameMime(prototype->GetMimeType(), kAsfMimeType)) {
        bool considered = profile == ClientXbox ||
                          (profile == ClientControlPoint && prototype->IsAvailable());
        if (!considered) continue;
      }
      if (prototype->CheckSource(path, sourceMime) != 0) continue;
      NS::ResourceOffer offer{};
      if (BuildOffer(prototype, index, &offer))
        offers.push_back(offer);
      else
        outOfMemory = true;
    }
  }
  if (offers.empty() && !outOfMemory) return NS::kTranscoderNothingToOffer;

  auto* result = outOfMemory ? nullptr : new (std::nothrow) NS::ResourceOffer[offers.size()];
  if (!result) {
    for (NS::ResourceOffer& offer : offers) FreeAttributes(offer.attributes, offer.count);
    *list = nullptr;
    return NS::kTranscoderNoPlace;
  }
  std::copy(offers.begin(), offers.end(), result);
  *list = result;
  *count = static_cast<uint32_t>(offers.size());
  return NS::kTranscoderOk;
}

void CTranscoderImpl::FreeResourceList(NS::ResourceOffer* list, uint32_t count) {
  if (!list) return;
  for (uint32_t i = 0; i < count; ++i) FreeAttributes(list[i].attributes, list[i].count);
  delete[] list;
}

bool CTranscoderImpl::WaitForFreePlace() {
  int32_t budget = m_admissionBudgetMs;
  m_jobListLock.Lock();
  while (m_activeJobs.size() >= kMaxActiveJobs) {
    m_jobListLock.Unlock();
    if (budget <= 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kAdmissionStepMs));
    budget -= kAdmissionStepMs;
    m_jobListLock.Lock();
  }
  m_jobListLock.Unlock();
  return true;
}

// Under the job-list lock: a parked job of the same source and output type is taken as it is;
// when the places are all used, a parked job of the same output type is re-opened for the new
// source, or else the oldest parked job is destroyed to make room.
NS::ITranscoderJob* CTranscoderImpl::TakeParkedJob(const char16_t* path, const char* mime,
                                                   NS::IJobListener* listener,
                                                   int32_t* openStatus) {
  *openStatus = 0;
  CNetLock hold(m_jobListLock);
  for (auto it = m_parkedJobs.begin(); it != m_parkedJobs.end(); ++it) {
    NS::ITranscoderJob* job = *it;
    if (SameWidePath(job->GetSourcePath(), path) && SameMime(job->GetMimeType(), mime)) {
      m_parkedJobs.erase(it);
      return job;
    }
  }
  if (m_parkedJobs.empty() || m_activeJobs.size() + m_parkedJobs.size() < kMaxActiveJobs)
    return nullptr;
  for (auto it = m_parkedJobs.begin(); it != m_parkedJobs.end(); ++it) {
    NS::ITranscoderJob* job = *it;
    if (!SameMime(job->GetMimeType(), mime)) continue;
    m_parkedJobs.erase(it);
    *openStatus = job->Open(listener, path, mime);
    if (*openStatus != 0) {
      hold.Unlock();
      delete job;
      return nullptr;
    }
    return job;
  }
  NS::ITranscoderJob* oldest = m_parkedJobs.front();
  m_parkedJobs.pop_front();
  delete oldest;
  return nullptr;
}

int32_t CTranscoderImpl::CreateJob(const char16_t* path, const char* mime, uint32_t index,
                                   NS::IJobListener* listener, NS::ITranscoderJob** out) {
  if (!path || !out || m_prototypes.empty() || index >= m_prototypes.size())
    return NS::kTranscoderBadArgument;
  if (!WaitForFreePlace()) return NS::kTranscoderNoPlace;

  int32_t openStatus = 0;
  NS::ITranscoderJob* job = TakeParkedJob(path, mime, listener, &openStatus);
  if (openStatus != 0) return NS::kTranscoderOpenFailed;
  if (!job) {
    {
      CNetLock hold(m_prototypeLock);
      job = m_prototypes[index]->MakeJob(this);
    }
    if (!job) return NS::kTranscoderNoPlace;
    if (job->Open(listener, path, mime) != 0) {
      delete job;
      return NS::kTranscoderOpenFailed;
    }
  }
  *out = job;
  {
    CNetLock hold(m_jobListLock);
    m_activeJobs.push_back(job);
  }
  job->AddRef();
  AddRef();
  return NS::kTranscoderOk;
}

void CTranscoderImpl::OnJobReleased(NS::ITranscoderJob* job) {
  job->Stop();
  {
    CNetLock hold(m_jobListLock);
    auto found = std::find(m_activeJobs.begin(), m_activeJobs.end(), job);
    if (found == m_activeJobs.end()) return;
    m_activeJobs.erase(found);
    m_parkedJobs.push_back(job);
  }
  // Dropped after the lock is released: this may be the last reference, and the lock dies
  // with the object.
  Release();
}
