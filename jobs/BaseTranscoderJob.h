// What both job kinds share: the reference count, the two descriptive strings, the stored
// source path, the source rules, and the release protocol towards the job's owner.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>

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

// The event a job reports to its listener (OnJobEvent (job, event, 0, 0)): its stream failed
// and ends short.
enum JobEvent : int32_t {
  kJobEventFailed = 4,
};

class CBaseTranscoderJob : public NS::ITranscoderJob {
 public:
  ~CBaseTranscoderJob() override;

  int32_t AddRef() override;
  int32_t Release() override;
  const char16_t* GetSourcePath() override { return m_sourcePath.get(); }
  const char* GetMimeType() override { return m_mimeType.get(); }
  const char* GetDlnaProfile() override { return m_dlnaProfile.get(); }
  bool IsAvailable() override { return true; }

  // The source rule both kinds apply once their own preconditions hold: the name rule below,
  // then the path must not name anything but a regular file, judged without opening it (a
  // FIFO or a device named *.mkv is refused at once instead of blocking whoever asks).
  static int32_t CheckMatroskaSource(const char16_t* path, const char* mime);
  // A Matroska MIME type (any case) when one is given, else the "mkv" extension.
  static int32_t CheckMatroskaName(const char16_t* path, const char* mime);

 protected:
  CBaseTranscoderJob(NS::ITranscoderJobCallbacks* owner, const char* mimeType,
                     const char* dlnaProfile);

  NS::ITranscoderJobCallbacks* Owner() const { return m_owner; }
  // Replaces the stored source path with a copy of path. Answers false when out of memory.
  bool StoreSourcePath(const char16_t* path);

 private:
  struct FreeText {
    void operator()(char* text) const { std::free(text); }
  };

  std::unique_ptr<char, FreeText> m_mimeType;     // calloc'ed
  std::unique_ptr<char, FreeText> m_dlnaProfile;  // malloc'ed
  NS::ITranscoderJobCallbacks* m_owner;           // not owned
  // The host adds and drops references from several threads at once.
  std::atomic<int32_t> m_refCount{0};
  std::unique_ptr<char16_t[]> m_sourcePath;
};
