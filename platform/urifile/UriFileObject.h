// A URI file that downloads its resource into a partial local copy (PartialFile) on a thread
// of its own while the caller reads from the copy. Chosen by CreateUriFile when side-file
// paths are given; the three paths name the info, mask and data files in that order, and all
// three are needed.
//
// Resuming: a copy found on disk is continued when its stored URL is the URI asked for (a copy
// of another URI is refused, and left as it is); the thread then fetches only the ranges the
// mask lacks. When the source reports a size other than the stored one, the resource has
// changed and the copy starts over.
//
// The thread asks for state changes; the object accepts them by this table (others are
// ignored), and entering 1 signals the object's event:
//
//   current   accepted            states: 0 connecting (the thread opens the source)
//   0, 3      any                         1 failed (the source could not be opened or read)
//   4         5, 0                        2 stopped before the end (the object is going)
//   5         any but 3                   3 downloading
//   1, 2      4 only                      4 closed
//                                         5 complete: every byte is in the copy
//
// Properties of the copy that the object keeps itself: the total size (number 6), the flags
// (number 11, also GetInfo 1) and the URL (text 100). SetProperty refuses the ids that GetInfo
// answers itself and the flags (2, 4, 6, 7, 8, 11); GetProperty refuses the texts 100 to 103.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/os/VexaEvent.h"
#include "platform/os/VexaMutex.h"
#include "platform/os/VexaThread.h"
#include "platform/urifile/IUriFile.h"
#include "platform/urifile/PartialFile.h"
#include "platform/urifile/UriFileObjectRate.h"
#include "platform/urifile/UriFileObjectSource.h"

namespace VexaUri {

// Opens a UriFileObject over the network: null when the open fails (nothing is left open).
IUriFile* OpenUriFileObject(const UriFileParams* params, AuthCallback callback, void* context);

enum UriObjectState : uint32_t {
  kObjectStateConnecting = 0,
  kObjectStateFailed = 1,
  kObjectStateStopped = 2,
  // 3, 4, 5: kUriStateOpen (downloading), kUriStateClosed, kUriStateComplete
};

enum UriObjectProperty : uint32_t {
  kObjectPropertySize = 6,
  kObjectPropertyFlags = 11,
  kObjectPropertyUrl = 100,
};

enum UriObjectFlag : uint32_t {
  kObjectFlagNoRanges = 1,  // the source serves its bytes only in order from 0
  kObjectFlagComplete = 2,
};

class UriFileObject final : public IUriFile {
 public:
  UriFileObject() = default;
  ~UriFileObject() override;  // stops the download thread, ends its source and joins it
  UriFileObject(const UriFileObject&) = delete;
  UriFileObject& operator=(const UriFileObject&) = delete;

  // Opens the copy and, unless it is complete, starts the download from `opener`'s source.
  int32_t Open(const UriFileParams* params, UriFileObjectSourceOpener opener);

  int32_t GetState(uint32_t* state) override;
  int32_t Seek(uint64_t offset, SeekOrigin origin) override;
  int32_t Tell(uint64_t* position) override;
  // Blocking: waits until the bytes asked for (up to the end) are in the copy. Non-blocking:
  // answers what is there from `position`, or kUriNotReady when nothing is.
  int32_t ReadAt(uint64_t position, void* buffer, uint32_t* count, uint8_t blocking) override;
  int32_t Read(void* buffer, uint32_t* count, uint8_t blocking) override;
  int32_t Abort() override;
  int32_t Resume() override;
  int32_t Prefetch(uint64_t offset, uint64_t length) override;
  int32_t CancelPrefetch() override;
  int32_t GetMissingRange(uint64_t* offset, uint64_t* length) override;
  int32_t SetProperty(uint32_t id, uint32_t valueLow, uint32_t valueHigh) override;
  int32_t GetInfo(uint32_t id, uint64_t* value) override;
  int32_t GetProperty(uint32_t id, uint64_t* value) override;
  int32_t SetTextProperty(uint32_t id, const char16_t* value) override;
  int32_t GetTextProperty(uint32_t id, char16_t* buffer, uint32_t capacity) override;
  int32_t DeleteProperty(uint32_t id) override;
  int32_t SetDownloadMode(uint32_t mode, uint32_t flag) override;
  int32_t GetDownloadMode(uint32_t* mode) override;

  // The state table above: whether a request for `requested` is taken in state `current`.
  static bool AcceptsState(uint32_t current, uint32_t requested);

 private:
  struct Fetch {
    uint64_t start;
    uint64_t end;
  };
  // What a copy found on disk says about the download.
  struct CopyFacts {
    bool sizeKnown = false;
    uint64_t size = 0;
    uint32_t flags = 0;
    bool complete = false;
  };

  bool OpenCopy(const UriFileParams* params, CopyFacts& facts);
  static uint32_t DownloadThread(std::atomic<uint8_t>* stop, void* self, uint32_t userValue);
  void Download(const std::atomic<uint8_t>& stop);
  bool ConnectSource(const std::atomic<uint8_t>& stop);
  void LearnSize(bool sizeKnown, uint64_t size, bool byteRanges);
  bool NextFetch(Fetch& fetch);
  bool StoreChunk(uint64_t offset, uint32_t count);
  void FinishDownload();
  void CloseSource();
  void RequestState(uint32_t requested);
  // Waits (bounded) until the thread has left the connecting state; false when it has not.
  bool WaitForInfo();
  void Close();

  VexaOS::CVexaMutex m_apiLock;    // serialises the public operations
  VexaOS::CVexaMutex m_copyLock;   // the partial copy
  VexaOS::CVexaMutex m_stateLock;  // state, size, flags, wanted ranges, rate, source
  VexaOS::CVexaEvent m_progress{nullptr, true};  // set by the thread on every step forward
  VexaOS::CVexaThread m_thread;

  PartialFile m_copy;
  UriFileObjectSourceOpener m_opener;
  std::unique_ptr<IUriFileObjectSource> m_source;
  std::vector<uint8_t> m_chunk;
  UriFileObjectRate m_rate;

  std::atomic<uint32_t> m_state{kUriStateClosed};
  std::atomic<bool> m_aborted{false};
  bool m_open = false;
  uint64_t m_position = 0;
  uint32_t m_downloadMode = 0;
  // Under m_stateLock:
  bool m_sizeKnown = false;
  uint64_t m_size = 0;
  uint32_t m_flags = 0;
  std::deque<Fetch> m_prefetch;
  uint64_t m_wanted = UINT64_MAX;  // where a blocked reader waits
  // The thread's own:
  uint64_t m_cursor = 0;           // where sequential fetching goes on
  uint64_t m_received = 0;         // bytes fetched since the thread started
  uint64_t m_unflushed = 0;        // bytes written since the mask was last recorded
};

}  // namespace VexaUri
