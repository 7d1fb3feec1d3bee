// The interfaces through which the streaming stack and the plug-in call each other.
// Hosts outside this tree are built against this header: the slot order of every interface,
// its argument types and the layout of the offer records must never change.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Stackvale::NetworkStreaming {

class ITranscoderJob;

class INetRefCounted {
 public:
  virtual ~INetRefCounted() = default;
  virtual int32_t AddRef() = 0;   // returns the new count
  virtual int32_t Release() = 0;  // returns the new count
};

struct ResourceAttribute {
  char* name;
  char* value;
};
static_assert(sizeof(ResourceAttribute) == 2 * sizeof(void*));
static_assert(offsetof(ResourceAttribute, value) == sizeof(void*));

struct ResourceOffer {
  uint32_t index;  // the transcoder index the stack later passes to CreateJob
  ResourceAttribute* attributes;
  uint32_t count;
};
static_assert(offsetof(ResourceOffer, index) == 0);
static_assert(offsetof(ResourceOffer, attributes) == sizeof(void*));
static_assert(offsetof(ResourceOffer, count) == 2 * sizeof(void*));
static_assert(sizeof(ResourceOffer) == 3 * sizeof(void*));

enum TranscoderResult : int32_t {
  kTranscoderOk = 0,
  kTranscoderOpenFailed = 1,
  kTranscoderBadArgument = 2,
  kTranscoderNoPlace = 4,
  kTranscoderNothingToOffer = 15,
};

enum ClientHeader : int32_t {
  kHeaderUserAgent = 0,
};

class IClientRequest : public INetRefCounted {
 public:
  virtual const char* GetClientId() = 0;
  virtual const char* GetRemoteAddress() = 0;
  virtual const char* GetHeader(int32_t which) = 0;  // null when absent
};

class IMediaItem : public INetRefCounted {
 public:
  virtual const char* GetTitle() = 0;
  virtual const char* GetClass() = 0;
  virtual int64_t GetSize() = 0;
  virtual const char16_t* GetSourcePath() = 0;
  virtual int64_t GetDurationMs() = 0;
  virtual const char* GetSourceMimeType() = 0;  // may be null
};

class IJobListener {
 public:
  virtual ~IJobListener() = default;
  virtual void OnJobEvent(ITranscoderJob* job, int32_t event, int32_t, int32_t) = 0;
};

class ITranscoderHost {
 public:
  virtual ~ITranscoderHost() = default;
  virtual int32_t ForwardRequest(int32_t code) = 0;
};

class IDataSource : public INetRefCounted {
 public:
  virtual bool Seek(int64_t ms) = 0;
  virtual bool QueryFlag(uint32_t flag) = 0;
  virtual const char16_t* GetSourcePath() = 0;
  virtual int64_t GetDuration() = 0;  // -1 when unknown
  virtual bool Read(uint8_t* buffer, uint32_t size, uint32_t* count) = 0;
  virtual bool IsValid() = 0;
  virtual int64_t GetTimestamp() = 0;
  virtual int32_t QueryValue(uint32_t which) = 0;
};

class ITranscoderJobCallbacks;

class ITranscoderJob : public IDataSource {
 public:
  virtual int32_t Start(int64_t fromMs, int64_t toMs) = 0;
  virtual int32_t Stop() = 0;
  virtual int32_t TogglePause() = 0;
  virtual const char* GetMimeType() = 0;
  virtual const char* GetDlnaProfile() = 0;
  virtual int32_t Open(IJobListener* listener, const char16_t* path, const char* mime) = 0;
  virtual int32_t CheckSource(const char16_t* path, const char* mime) = 0;
  virtual ITranscoderJob* MakeJob(ITranscoderJobCallbacks* owner) = 0;
  virtual int64_t GetTranscodedDuration() = 0;
  virtual bool IsAvailable() = 0;
};

// What a job calls on its owner. It has no destructor slot: nobody deletes an owner through it.
class ITranscoderJobCallbacks {
 public:
  virtual void OnJobReleased(ITranscoderJob* job) = 0;
  virtual int32_t ForwardRequest(ITranscoderJob* job, int32_t code) = 0;

 protected:
  ~ITranscoderJobCallbacks() = default;
};

class IUpnpTranscoder : public INetRefCounted {
 public:
  virtual int32_t OfferResources(IClientRequest* request, IMediaItem* item, ResourceOffer** list,
                                 uint32_t* count) = 0;
  virtual void FreeResourceList(ResourceOffer* list, uint32_t count) = 0;
  virtual int32_t CreateJob(const char16_t* path, const char* mime, uint32_t index,
                            IJobListener* listener, ITranscoderJob** job) = 0;
};

class ITranscoder {
 public:
  virtual ~ITranscoder() = default;
  virtual void SetHost(ITranscoderHost* host) = 0;
  virtual int32_t GetUpnpTranscoder(IUpnpTranscoder** out) = 0;
  virtual int32_t SetClientProfile(const char* clientId, int32_t profile) = 0;
  virtual int32_t AddRef() = 0;
  virtual int32_t Release() = 0;
};

}  // namespace Stackvale::NetworkStreaming

// The plug-in's only exported symbol.
typedef Stackvale::NetworkStreaming::ITranscoder* (*LoadTranscoderFn)();
