#include "plugin/TranscoderImpl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "jobs/TranscodeJobASF.h"
#include "jobs/TranscodeJobMPEG2.h"
#include "plugin/ClientProfiles.h"

namespace {

constexpr char kProtocolInfoName[] = "res@protocolInfo";
constexpr char kDurationName[] = "res@duration";

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
  m_prototypes.clear();
  m_jobOwner.DestroyParkedJobs();
  m_profileLock.Destroy();
  m_prototypeLock.Destroy();
  m_jobOwner.DestroyLock();
  m_clientProfiles.clear();
}

void CTranscoderImpl::Initialise() {
  if (m_started) return;
  m_started = true;
  m_profileLock.Create();
  m_prototypeLock.Create();
  m_jobOwner.CreateLock();
  CreateJobPrototypes();
}

void CTranscoderImpl::CreateJobPrototypes() {
  // The index of a kind is its place here: 0 the ASF job, 1 the transport-stream job.
  AddPrototype(new (std::nothrow) CTranscodeJobASF(JobCallbacks()));
  AddPrototype(new (std::nothrow) CTranscodeJobMPEG2(JobCallbacks()));
}

void CTranscoderImpl::AddPrototype(NS::ITranscoderJob* prototype) {
  JobPtr owned(prototype);
  if (!owned) return;
  CNetLock hold(m_prototypeLock);
  m_prototypes.push_back(std::move(owned));
}

size_t CTranscoderImpl::PrototypeCount() {
  CNetLock hold(m_prototypeLock);
  return m_prototypes.size();
}

// A prototype only manufactures: every probe and every request gets a job of its own, so no
// two threads ever share one job's state, and no lock is held while a job looks at a file.
CTranscoderImpl::JobPtr CTranscoderImpl::MakeJob(uint32_t index) {
  CNetLock hold(m_prototypeLock);
  if (index >= m_prototypes.size()) return nullptr;
  return JobPtr(m_prototypes[index]->MakeJob(JobCallbacks()));
}

int32_t CTranscoderImpl::GetUpnpTranscoder(NS::IUpnpTranscoder** out) {
  if (!out) return kNoOutPointer;
  *out = this;
  return 0;
}

int32_t CTranscoderImpl::SetClientProfile(const char* clientId, int32_t profile) {
  if (!clientId) return 0;
  CNetLock hold(m_profileLock);
  m_clientProfiles.try_emplace(clientId, profile);
  return 0;
}

// A client without an identifier is recognised afresh every time: an empty key would be
// shared by every such client, whatever each is.
int32_t CTranscoderImpl::ResolveProfile(NS::IClientRequest* request) {
  const char* clientId = request->GetClientId();
  bool cached = clientId && *clientId;
  CNetLock hold(m_profileLock);
  if (cached) {
    auto found = m_clientProfiles.find(clientId);
    if (found != m_clientProfiles.end() && found->second != ClientUnknown) return found->second;
  }
  const char* userAgent = request->GetHeader(NS::kHeaderUserAgent);
  if (!userAgent) return ClientUnknown;
  ClientProfile profile = RecognizeClient(userAgent);
  if (cached && IsCachedProfile(profile)) m_clientProfiles[clientId] = profile;
  return profile;
}

int32_t CTranscoderImpl::OfferResources(NS::IClientRequest* request, NS::IMediaItem* item,
                                        NS::ResourceOffer** list, uint32_t* count) {
  if (!request || !item || !list || !count) return NS::kTranscoderBadArgument;
  size_t kinds = PrototypeCount();
  if (kinds == 0) return NS::kTranscoderNothingToOffer;
  int32_t profile = ResolveProfile(request);
  if (!IsServedProfile(profile)) return NS::kTranscoderNothingToOffer;

  std::vector<NS::ResourceOffer> offers;
  bool outOfMemory = false;
  const char16_t* path = item->GetSourcePath();
  const char* sourceMime = item->GetSourceMimeType();
  for (uint32_t index = 0; index < kinds && !outOfMemory; ++index) {
    JobPtr probe = MakeJob(index);
    if (!probe) continue;
    if (SameMime(probe->GetMimeType(), kAsfMimeType)) {
      bool considered = profile == ClientXbox ||
                        (profile == ClientControlPoint && probe->IsAvailable());
      if (!considered) continue;
    }
    if (probe->CheckSource(path, sourceMime) != 0) continue;
    NS::ResourceOffer offer{};
    if (BuildOffer(probe.get(), index, &offer))
      offers.push_back(offer);
    else
      outOfMemory = true;
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

int32_t CTranscoderImpl::ObtainJob(const char16_t* path, const char* mime, uint32_t index,
                                   std::unique_ptr<JobEntry>& entry) {
  entry = m_jobOwner.TakeParkedJob(path, mime);
  if (entry && !entry->needsOpen) return NS::kTranscoderOk;
  if (!entry) {
    entry.reset(new (std::nothrow) JobEntry);
    if (!entry) return NS::kTranscoderNoPlace;
    entry->relay.reset(new (std::nothrow) CListenerRelay);
    entry->job = MakeJob(index);
    if (!entry->relay || !entry->job) return NS::kTranscoderNoPlace;
    const char* outputMime = entry->job->GetMimeType();
    entry->outputMime = outputMime ? outputMime : "";
  }
  // Opened outside every lock: opening looks at the source file.
  if (entry->job->Open(entry->relay.get(), path, mime) != kJobOk)
    return NS::kTranscoderOpenFailed;
  entry->path = path;
  return NS::kTranscoderOk;
}

int32_t CTranscoderImpl::CreateJob(const char16_t* path, const char* mime, uint32_t index,
                                   NS::IJobListener* listener, NS::ITranscoderJob** out) {
  if (!path || !out || index >= PrototypeCount()) return NS::kTranscoderBadArgument;
  if (!m_jobOwner.TakePlace(m_admissionBudgetMs)) return NS::kTranscoderNoPlace;
  std::unique_ptr<JobEntry> entry;
  int32_t result = ObtainJob(path, mime, index, entry);
  if (result != NS::kTranscoderOk) {
    m_jobOwner.ReturnPlace();
    return result;  // the job that could not serve goes with its entry
  }
  NS::ITranscoderJob* job = m_jobOwner.Activate(std::move(entry), listener);
  *out = job;
  job->AddRef();
  AddRef();
  return NS::kTranscoderOk;
}
