#include "platform/urifile/UriFileObject.h"

#include <algorithm>

#include "platform/files/TextConvert.h"

namespace VexaUri {
namespace {

using VexaFiles::kUriAborted;
using VexaFiles::kUriEnd;
using VexaFiles::kUriFailed;
using VexaFiles::kUriNotReady;
using VexaFiles::kUriNotSupported;
using VexaFiles::kUriNullArgument;
using VexaFiles::kUriOk;
using VexaFiles::kUriTooSmall;

constexpr uint32_t kChunkBytes = 0x10000;       // one fetch from the source
constexpr uint64_t kFlushEveryBytes = 0x100000;  // data synced and the mask recorded this often
constexpr uint32_t kWaitStepMs = 100;           // a waiter looks again at least this often
constexpr uint64_t kInfoWaitMs = 20000;         // longer than the network layer takes to connect
constexpr size_t kMaxPrefetch = 256;
constexpr uint32_t kTextPropertiesFirst = 100;
constexpr uint32_t kTextPropertiesLast = 103;

int32_t ToUriResult(PartialFileResult result) {
  switch (result) {
    case kPartialOk: return kUriOk;
    case kPartialNoProperty: return kUriNotSupported;
    case kPartialTooSmall:
    case kPartialTooLarge: return kUriTooSmall;
    default: return kUriFailed;
  }
}

// GetInfo answers these itself (the flags are the object's own): the caller may not set them.
bool IsRefusedSetProperty(uint32_t id) {
  return id == kUriInfoIsObject || id == kUriInfoByteRanges || id == kUriInfoSize ||
         id == kUriInfoDownloaded || id == kUriInfoRate || id == kObjectPropertyFlags;
}

// Holds one of the object's locks for a scope. Not CAutoMutex: that one also writes the lock's
// default time-out on every entry, a plain write that races when two threads take the lock.
class HeldLock {
 public:
  explicit HeldLock(VexaOS::CVexaMutex* mutex) : m_mutex(mutex) { m_mutex->Lock(VexaOS::kVexaNoTimeout); }
  ~HeldLock() { m_mutex->Unlock(); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

 private:
  VexaOS::CVexaMutex* m_mutex;
};

bool NoMoreBytesComing(uint32_t state) {
  return state == kObjectStateFailed || state == kObjectStateStopped || state == kUriStateClosed;
}

}  // namespace

bool UriFileObject::AcceptsState(uint32_t current, uint32_t requested) {
  switch (current) {
    case kObjectStateConnecting:
    case kUriStateOpen: return true;
    case kUriStateClosed: return requested == kUriStateComplete || requested == kObjectStateConnecting;
    case kUriStateComplete: return requested != kUriStateOpen;
    case kObjectStateFailed:
    case kObjectStateStopped: return requested == kUriStateClosed;
    default: return false;
  }
}

void UriFileObject::RequestState(uint32_t requested) {
  HeldLock lock(&m_stateLock);
  if (!AcceptsState(m_state, requested)) return;
  m_state = requested;
  // A reader waiting for bytes that will now never come must wake up.
  if (requested == kObjectStateFailed) m_progress.Set();
}

UriFileObject::~UriFileObject() { Close(); }

void UriFileObject::Close() {
  m_thread.Stop(true);
  {
    HeldLock lock(&m_stateLock);
    if (m_source) m_source->Abort();
  }
  m_progress.Set();
  m_thread.Stop();
  RequestState(kUriStateClosed);
  HeldLock lock(&m_copyLock);
  m_copy.Close();
  m_open = false;
}

int32_t UriFileObject::Open(const UriFileParams* params, UriFileObjectSourceOpener opener) {
  HeldLock api(&m_apiLock);
  if (!params || !params->uri || !params->sideFile1 || !params->sideFile2 || !params->sideFile3)
    return kUriNullArgument;
  Close();
  CopyFacts facts;
  if (!OpenCopy(params, facts)) return kUriFailed;
  {
    HeldLock lock(&m_stateLock);
    m_sizeKnown = facts.sizeKnown;
    m_size = facts.size;
    m_flags = facts.flags;
    m_prefetch.clear();
    m_wanted = UINT64_MAX;
    m_cursor = 0;
    m_received = 0;
  }
  m_unflushed = 0;
  m_chunk.resize(kChunkBytes);
  m_opener = std::move(opener);
  m_position = 0;
  m_aborted = false;
  m_open = true;
  if (facts.complete) {
    RequestState(kUriStateComplete);
    return kUriOk;
  }
  RequestState(kObjectStateConnecting);
  if (m_thread.Start(DownloadThread, this) != VexaOS::kOsOk) {
    Close();
    return kUriFailed;
  }
  return kUriOk;
}

bool UriFileObject::OpenCopy(const UriFileParams* params, CopyFacts& facts) {
  HeldLock lock(&m_copyLock);
  if (m_copy.Open(params->sideFile1, params->sideFile2, params->sideFile3) != kPartialOk) return false;
  const std::u16string uri(params->uri);
  std::u16string storedUri;
  uint64_t flags = 0;
  facts.sizeKnown = m_copy.GetNumber(kObjectPropertySize, &facts.size) == kPartialOk;
  m_copy.GetNumber(kObjectPropertyFlags, &flags);
  facts.flags = static_cast<uint32_t>(flags);
  bool usable = false;
  if (m_copy.IsNew()) {
    usable = m_copy.SetText(kObjectPropertyUrl, uri) == kPartialOk;
  } else {
    // A copy of another resource is not ours to overwrite; bytes beyond the size mean damage.
    const bool sameUri = m_copy.GetText(kObjectPropertyUrl, storedUri) == kPartialOk && storedUri == uri;
    const auto& ranges = m_copy.Present().Ranges();
    usable = sameUri && (!facts.sizeKnown || ranges.empty() || ranges.back().end <= facts.size);
  }
  if (!usable) m_copy.Close();
  facts.complete = usable && facts.sizeKnown && m_copy.Present().Covers(facts.size);
  return usable;
}

// ---- The download thread ----

uint32_t UriFileObject::DownloadThread(std::atomic<uint8_t>* stop, void* self, uint32_t) {
  static_cast<UriFileObject*>(self)->Download(*stop);
  return 0;
}

void UriFileObject::Download(const std::atomic<uint8_t>& stop) {
  if (!ConnectSource(stop)) {
    RequestState(stop ? kObjectStateStopped : kObjectStateFailed);
    m_progress.Set();
    return;
  }
  uint64_t size = 0;
  const bool sizeKnown = m_source->Size(&size) && size > 0;
  LearnSize(sizeKnown, size, m_source->ByteRanges());
  {
    HeldLock lock(&m_stateLock);
    m_rate.Start(VexaOS::MonotonicMilliseconds());
  }
  RequestState(kUriStateOpen);
  m_progress.Set();
  bool finished = false;
  while (!stop) {
    Fetch fetch;
    if (!NextFetch(fetch)) {
      FinishDownload();
      finished = true;
      break;
    }
    uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(fetch.end - fetch.start, kChunkBytes));
    const int32_t result = m_source->ReadAt(fetch.start, m_chunk.data(), &count);
    if (stop) break;
    const bool atEnd = result == kUriEnd || (result == kUriOk && count == 0);
    if (atEnd && !m_sizeKnown) {
      // A source that did not know its size has told it now.
      LearnSize(true, fetch.start, !(m_flags & kObjectFlagNoRanges));
      continue;
    }
    if (result != kUriOk || atEnd || !StoreChunk(fetch.start, count)) {
      RequestState(kObjectStateFailed);
      break;
    }
  }
  if (!finished) {
    HeldLock lock(&m_copyLock);
    m_copy.Flush();
  }
  if (stop) RequestState(kObjectStateStopped);
  CloseSource();
  m_progress.Set();
}

bool UriFileObject::ConnectSource(const std::atomic<uint8_t>& stop) {
  std::unique_ptr<IUriFileObjectSource> source = m_opener ? m_opener() : nullptr;
  HeldLock lock(&m_stateLock);
  // Published under the lock, so that Close either finds it to abort or sees the thread stop.
  if (stop || !source) return false;
  m_source = std::move(source);
  return true;
}

void UriFileObject::CloseSource() {
  std::unique_ptr<IUriFileObjectSource> source;
  {
    HeldLock lock(&m_stateLock);
    source = std::move(m_source);
  }
}

void UriFileObject::LearnSize(bool sizeKnown, uint64_t size, bool byteRanges) {
  const uint64_t flags = byteRanges ? 0u : uint32_t{kObjectFlagNoRanges};
  {
    HeldLock lock(&m_copyLock);
    uint64_t stored = 0;
    const bool hasStored = m_copy.GetNumber(kObjectPropertySize, &stored) == kPartialOk;
    // Another size means another resource behind the URI: the bytes kept are not its bytes.
    if (sizeKnown && hasStored && stored != size) m_copy.ResetData();
    if (!sizeKnown && hasStored) {
      sizeKnown = true;
      size = stored;
    }
    if (sizeKnown) m_copy.SetNumber(kObjectPropertySize, size);
    m_copy.SetNumber(kObjectPropertyFlags, flags);
  }
  HeldLock lock(&m_stateLock);
  m_sizeKnown = sizeKnown;
  m_size = size;
  m_flags = static_cast<uint32_t>(flags);
}

bool UriFileObject::NextFetch(Fetch& fetch) {
  // The one place holding two of the locks: always the state lock first.
  HeldLock state(&m_stateLock);
  HeldLock copy(&m_copyLock);
  const uint64_t end = m_sizeKnown ? m_size : UINT64_MAX;
  if (m_flags & kObjectFlagNoRanges) {
    // Bytes come in order: read on from where the source stands, whatever the copy holds.
    fetch = Fetch{m_cursor, end};
    return m_cursor < end;
  }
  const PartialFileRanges& present = m_copy.Present();
  auto missingIn = [&](uint64_t from, uint64_t to) {
    const uint64_t start = present.FirstMissingFrom(from);
    if (start >= to) return false;
    fetch = Fetch{start, std::min(to, present.NextPresentAfter(start))};
    return true;
  };
  // Prefetched ranges first, then where a reader waits, then on from the last fetch.
  for (; !m_prefetch.empty(); m_prefetch.pop_front())
    if (missingIn(m_prefetch.front().start, std::min(m_prefetch.front().end, end))) return true;
  if (m_wanted != UINT64_MAX) {
    m_cursor = m_wanted;
    m_wanted = UINT64_MAX;
  }
  return missingIn(m_cursor, end) || missingIn(0, end);
}

bool UriFileObject::StoreChunk(uint64_t offset, uint32_t count) {
  {
    HeldLock lock(&m_copyLock);
    if (m_copy.WriteData(offset, m_chunk.data(), count) != kPartialOk) return false;
    m_unflushed += count;
    if (m_unflushed >= kFlushEveryBytes) {
      if (m_copy.Flush() != kPartialOk) return false;
      m_unflushed = 0;
    }
  }
  {
    HeldLock lock(&m_stateLock);
    m_cursor = offset + count;
    m_received += count;
    m_rate.AddSample(VexaOS::MonotonicMilliseconds(), m_received);
  }
  m_progress.Set();
  return true;
}

void UriFileObject::FinishDownload() {
  uint32_t flags = 0;
  {
    HeldLock state(&m_stateLock);
    m_flags |= kObjectFlagComplete;
    flags = m_flags;
  }
  bool recorded = false;
  {
    HeldLock lock(&m_copyLock);
    recorded = m_copy.Flush() == kPartialOk && m_copy.SetNumber(kObjectPropertyFlags, flags) == kPartialOk;
    m_unflushed = 0;
  }
  RequestState(recorded ? uint32_t{kUriStateComplete} : uint32_t{kObjectStateFailed});
  m_progress.Set();
}

// ---- Reading the copy ----

bool UriFileObject::WaitForInfo() {
  const uint64_t deadline = VexaOS::MonotonicMilliseconds() + kInfoWaitMs;
  while (m_state == kObjectStateConnecting) {
    if (m_aborted || VexaOS::MonotonicMilliseconds() >= deadline) return false;
    m_progress.Reset();
    if (m_state != kObjectStateConnecting) break;
    // Bounded: another waiter's Reset may swallow a Set meant for this one.
    m_progress.Wait(kWaitStepMs);
  }
  return true;
}

int32_t UriFileObject::ReadAt(uint64_t position, void* buffer, uint32_t* count, uint8_t blocking) {
  if (!buffer || !count) return kUriNullArgument;
  HeldLock api(&m_apiLock);
  const uint32_t asked = *count;
  *count = 0;
  if (!m_open) return kUriFailed;
  for (;;) {
    if (m_aborted) return kUriAborted;
    m_progress.Reset();
    uint64_t present = 0;
    {
      HeldLock lock(&m_copyLock);
      present = m_copy.Present().PresentFrom(position);
    }
    uint64_t wanted = asked;
    {
      HeldLock lock(&m_stateLock);
      if (m_sizeKnown && position >= m_size) return kUriEnd;
      if (m_sizeKnown) wanted = std::min<uint64_t>(asked, m_size - position);
      // Tells the thread where the bytes are needed first.
      if (blocking && present < wanted) m_wanted = position + present;
    }
    const bool stalled = NoMoreBytesComing(m_state);
    if (present >= wanted || (present > 0 && (!blocking || stalled))) {
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(present, wanted));
      if (m_copy.ReadData(position, buffer, n) != kPartialOk) return kUriFailed;
      *count = n;
      m_position = position + n;
      return kUriOk;
    }
    if (!blocking) return kUriNotReady;
    if (stalled) return kUriFailed;
    m_progress.Wait(kWaitStepMs);
  }
}

int32_t UriFileObject::Read(void* buffer, uint32_t* count, uint8_t blocking) {
  HeldLock api(&m_apiLock);
  return ReadAt(m_position, buffer, count, blocking);
}

int32_t UriFileObject::Seek(uint64_t offset, SeekOrigin origin) {
  HeldLock api(&m_apiLock);
  if (!m_open) return kUriFailed;
  if (origin == VexaFiles::kSeekFromEnd) WaitForInfo();
  bool sizeKnown = false;
  uint64_t size = 0;
  {
    HeldLock lock(&m_stateLock);
    sizeKnown = m_sizeKnown;
    size = m_size;
  }
  uint64_t target = 0;
  switch (origin) {
    case VexaFiles::kSeekForward: target = m_position + offset; break;
    case VexaFiles::kSeekBackward: target = m_position > offset ? m_position - offset : 0; break;
    case VexaFiles::kSeekAbsolute: target = offset; break;
    case VexaFiles::kSeekFromEnd:
      if (!sizeKnown) return kUriNotSupported;
      target = size > offset ? size - offset : 0;
      break;
    default: return kUriNotSupported;
  }
  m_position = sizeKnown ? std::min(target, size) : target;
  return kUriOk;
}

int32_t UriFileObject::Tell(uint64_t* position) {
  if (!position) return kUriNullArgument;
  HeldLock api(&m_apiLock);
  if (!m_open) return kUriFailed;
  *position = m_position;
  return kUriOk;
}

int32_t UriFileObject::GetState(uint32_t* state) {
  if (!state) return kUriNullArgument;
  *state = m_state;
  return kUriOk;
}

// Not under the object's lock: a reader blocked in ReadAt holds it.
int32_t UriFileObject::Abort() {
  m_aborted = true;
  m_progress.Set();
  return kUriOk;
}

int32_t UriFileObject::Resume() {
  m_aborted = false;
  return kUriOk;
}

int32_t UriFileObject::Prefetch(uint64_t offset, uint64_t length) {
  HeldLock api(&m_apiLock);
  if (!m_open) return kUriFailed;
  WaitForInfo();
  if (m_state == kUriStateComplete) return kUriOk;
  HeldLock lock(&m_stateLock);
  if (m_flags & kObjectFlagNoRanges) return kUriNotSupported;
  const uint64_t limit = m_sizeKnown ? m_size : UINT64_MAX;
  const uint64_t start = std::min(offset, limit);
  const uint64_t end = std::min(limit, length > limit - start ? limit : start + length);
  if (end == start) return kUriOk;
  if (m_prefetch.size() >= kMaxPrefetch) return kUriTooSmall;
  m_prefetch.push_back(Fetch{start, end});
  return kUriOk;
}

int32_t UriFileObject::CancelPrefetch() {
  HeldLock api(&m_apiLock);
  if (!m_open) return kUriFailed;
  HeldLock lock(&m_stateLock);
  m_prefetch.clear();
  return kUriOk;
}

int32_t UriFileObject::GetMissingRange(uint64_t* offset, uint64_t* length) {
  if (!offset || !length) return kUriNullArgument;
  HeldLock api(&m_apiLock);
  if (!m_open) return kUriFailed;
  HeldLock lock(&m_copyLock);
  const uint64_t moved = std::min(*length, m_copy.Present().PresentFrom(*offset));
  *offset += moved;
  *length -= moved;
  return kUriOk;
}

// ---- Information and properties ----

int32_t UriFileObject::GetInfo(uint32_t id, uint64_t* value) {
  if (!value) return kUriNullArgument;
  HeldLock api(&m_apiLock);
  if (!m_open) return kUriFailed;
  if (id == kUriInfoIsObject) {
    *value = 1;
    return kUriOk;
  }
  if (!WaitForInfo()) return kUriAborted;
  if (id == kUriInfoDownloaded) {
    HeldLock lock(&m_copyLock);
    *value = m_copy.Present().TotalBytes();
    return kUriOk;
  }
  {
    HeldLock lock(&m_stateLock);
    switch (id) {
      case kUriInfoPartialValue: *value = m_flags; return kUriOk;
      case kUriInfoByteRanges: *value = (m_flags & kObjectFlagNoRanges) ? 0 : 1; return kUriOk;
      case kUriInfoRate: *value = m_rate.BitsPerSecond(VexaOS::MonotonicMilliseconds()); return kUriOk;
      case kUriInfoSize:
        if (!m_sizeKnown) return m_state == kObjectStateFailed ? kUriFailed : kUriNotReady;
        *value = m_size;
        return kUriOk;
      default: break;
    }
  }
  HeldLock lock(&m_copyLock);
  return ToUriResult(m_copy.GetNumber(id, value));
}

int32_t UriFileObject::SetProperty(uint32_t id, uint32_t valueLow, uint32_t valueHigh) {
  HeldLock api(&m_apiLock);
  if (!m_open || IsRefusedSetProperty(id)) return kUriFailed;
  HeldLock lock(&m_copyLock);
  return ToUriResult(m_copy.SetNumber(id, uint64_t{valueHigh} << 32 | valueLow));
}

int32_t UriFileObject::GetProperty(uint32_t id, uint64_t* value) {
  if (!value) return kUriNullArgument;
  HeldLock api(&m_apiLock);
  if (!m_open || (id >= kTextPropertiesFirst && id <= kTextPropertiesLast)) return kUriFailed;
  HeldLock lock(&m_copyLock);
  return ToUriResult(m_copy.GetNumber(id, value));
}

int32_t UriFileObject::SetTextProperty(uint32_t id, const char16_t* value) {
  if (!value) return kUriNullArgument;
  HeldLock api(&m_apiLock);
  if (!m_open) return kUriFailed;
  HeldLock lock(&m_copyLock);
  return ToUriResult(m_copy.SetText(id, std::u16string_view(value, VexaFiles::WideLength(value))));
}

int32_t UriFileObject::GetTextProperty(uint32_t id, char16_t* buffer, uint32_t capacity) {
  if (!buffer) return kUriNullArgument;
  HeldLock api(&m_apiLock);
  if (!m_open) return kUriFailed;
  HeldLock lock(&m_copyLock);
  return ToUriResult(m_copy.GetText(id, buffer, capacity));
}

int32_t UriFileObject::DeleteProperty(uint32_t id) {
  HeldLock api(&m_apiLock);
  if (!m_open) return kUriFailed;
  HeldLock lock(&m_copyLock);
  return ToUriResult(m_copy.DeleteProperty(id));
}

int32_t UriFileObject::SetDownloadMode(uint32_t mode, uint32_t) {
  HeldLock api(&m_apiLock);
  if (!m_open) return kUriFailed;
  m_downloadMode = mode;
  return kUriOk;
}

int32_t UriFileObject::GetDownloadMode(uint32_t* mode) {
  if (!mode) return kUriNullArgument;
  HeldLock api(&m_apiLock);
  if (!m_open) return kUriFailed;
  *mode = m_downloadMode;
  return kUriOk;
}

}  // namespace VexaUri
