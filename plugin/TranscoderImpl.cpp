#include "plugin/TranscoderImpl.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "jobs/TranscodeJobASF.h"
#include "jobs/TranscodeJobMPEG2.h"
#include "plugin/ClientProfiles.h"

namespace {

constexpr char kProtocolInfoName[] = "res@protocolInfo";
constexpr char kDurationName[] = "res@duration";
// "http-get:*:" and the colon before the fourth field, and the terminating NUL.
constexpr size_t kProtocolInfoFrame = 13;
constexpr uint32_t kAttributesPerOffer = 2;

bool SameMime(const char* jobMime, const char* mime) {
  return jobMime && mime && std::strcmp(jobMime, mime) == 0;
}

using Text = std::unique_ptr<char[]>;

Text CopyText(const char* text) {
  size_t size = std::strlen(text) + 1;
  Text copy(new (std::nothrow) char[size]);
  if (copy) std::memcpy(copy.get(), text, size);
  return copy;
}

void FreeAttributes(NS::ResourceAttribute* attributes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    delete[] attributes[i].name;
    delete[] attributes[i].value;
  }
  delete[] attributes;
}

// One offer while the list is built: every string has its owner until the whole list is
// handed out, so running out of memory half-way leaks nothing and hands out no partial list.
struct OfferTexts {
  uint32_t index = 0;
  Text protocolInfo;
  Text duration;
  Text names[kAttributesPerOffer];
  std::unique_ptr<NS::ResourceAttribute[]> attributes;
};

bool BuildOffer(NS::ITranscoderJob* job, uint32_t index, OfferTexts& offer) {
  const char* mime = job->GetMimeType();
  const char* profile = job->GetDlnaProfile();
  if (!mime || !profile) return false;
  size_t infoSize = std::strlen(mime) + std::strlen(profile) + kProtocolInfoFrame;
  offer.index = index;
  offer.protocolInfo.reset(new (std::nothrow) char[infoSize]);
  offer.duration.reset(new (std::nothrow) char[kDurationBufferSize]);
  offer.names[0] = CopyText(kProtocolInfoName);
  offer.names[1] = CopyText(kDurationName);
  offer.attributes.reset(new (std::nothrow) NS::ResourceAttribute[kAttributesPerOffer]);
  if (!offer.protocolInfo || !offer.duration || !offer.names[0] || !offer.names[1] ||
      !offer.attributes)
    return false;
  std::snprintf(offer.protocolInfo.get(), infoSize, "%s:%s:%s:%s", "http-get", "*", mime, profile);
  FormatDuration(job->GetTranscodedDuration(), offer.duration.get(), kDurationBufferSize);
  return true;
}

// The host's list; from here on the host owns every string until FreeResourceList.
NS::ResourceOffer* HandOut(OfferTexts* offers, uint32_t count) {
  auto* list = new (std::nothrow) NS::ResourceOffer[count];
  for (uint32_t i = 0; list && i < count; ++i) {
    OfferTexts& offer = offers[i];
    offer.attributes[0] = {offer.names[0].release(), offer.protocolInfo.release()};
    offer.attributes[1] = {offer.names[1].release(), offer.duration.release()};
    list[i] = {offer.index, offer.attributes.release(), kAttributesPerOffer};
  }
  return list;
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
  return NS::kTranscoderOk;
}

int32_t CTranscoderImpl::SetClientProfile(const char* clientId, int32_t profile) {
  if (!clientId) return NS::kTranscoderOk;
  CNetLock hold(m_profileLock);
  m_clientProfiles.try_emplace(clientId, profile);
  return NS::kTranscoderOk;
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

  std::unique_ptr<OfferTexts[]> offers(new (std::nothrow) OfferTexts[kinds]);
  if (!offers) return NS::kTranscoderNoPlace;
  uint32_t accepted = 0;
  const char16_t* path = item->GetSourcePath();
  const char* sourceMime = item->GetSourceMimeType();
  for (uint32_t index = 0; index < kinds; ++index) {
    JobPtr probe = MakeJob(index);
    if (!probe) continue;
    if (SameMime(probe->GetMimeType(), kAsfMimeType)) {
      bool considered = profile == ClientXbox ||
                        (profile == ClientControlPoint && probe->IsAvailable());
      if (!considered) continue;
    }
    if (probe->CheckSource(path, sourceMime) != kJobOk) continue;
    if (!BuildOffer(probe.get(), index, offers[accepted++])) {
      *list = nullptr;
      return NS::kTranscoderNoPlace;
    }
  }
  if (accepted == 0) return NS::kTranscoderNothingToOffer;
  NS::ResourceOffer* result = HandOut(offers.get(), accepted);
  *list = result;
  if (!result) return NS::kTranscoderNoPlace;
  *count = accepted;
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
