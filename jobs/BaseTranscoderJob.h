// What both job kinds share: the reference count, the two descriptive strings, the stored
// source path, and the release protocol towards the job's owner.
#pragma once

#include <atomic>
#include <cstdint>

#include "interfaces/public/TranscoderInterfaces.h"

namespace NS = Stackvale::NetworkStreaming;

// Status answers of Open and CheckSource that the host relies on.
enum JobStatus : int32_t {
  kJobOk = 0,
  kJobMissingArgument = 2,
  kJobUnsupportedType = 15,
  kJobUnusableSource = 22,
  kJobFailed = 0x7FFFFFFF,
};

class CBaseTranscoderJob : public NS::ITranscoderJob {
 public:
  ~CBaseTranscoderJob() override;

  int32_t AddRef() override;
  int32_t Release() override;
  const char16_t* GetSourcePath() override { return m_sourcePath; }
  const char* GetMimeType() override { return m_mimeType; }
  const char* GetDlnaProfile() override { return m_dlnaProfile; }
  bool IsAvailable() override { return true; }

  // The source rule both kinds apply once their own preconditions hold: a Matroska MIME type
  // (any case) when one is given, else the "mkv" extension.
  static int32_t CheckMatroskaSource(const char16_t* path, const char* mime);

 protected:
  CBaseTranscoderJob(NS::ITranscoderJobCallbacks* owner, const char* mimeType,
                     const char* dlnaProfile);

  NS::ITranscoderJobCallbacks* Owner() const { return m_owner; }
  // Replaces the stored source path with a copy of path. Answers false when out of memory.
  bool StoreSourcePath(const char16_t* path);

 private:
  char* m_mimeType = nullptr;     // calloc'ed
  char* m_dlnaProfile = nullptr;  // malloc'ed
  NS::ITranscoderJobCallbacks* m_owner;
  // The host adds and drops references from several threads at once.
  std::atomic<int32_t> m_refCount{0};
  char16_t* m_sourcePath = nullptr;  // array new
};
