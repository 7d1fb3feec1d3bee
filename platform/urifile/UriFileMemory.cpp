#include "platform/urifile/UriFileMemory.h"

#include <cstdio>
#include <cstring>

#include "platform/os/MemoryArena.h"
#include "platform/urifile/UriSource.h"
#include "platform/urifile/UriText.h"

namespace VexaUri {

using namespace VexaFiles;

namespace {

// Pointer alignment: the records carved from the arena hold pointers and 64-bit counts.
constexpr uint32_t kArenaAlignment = alignof(uint64_t);
constexpr char kHttpPrefix[] = "http://";
constexpr size_t kHttpPrefixLength = sizeof(kHttpPrefix) - 1;

// Where the host begins in an "http://" URL: after the user information when there is one
// (the first "@" anywhere after the scheme ends it, as the engine reads URLs).
const char* HostPart(const char* url) {
  const char* rest = url + kHttpPrefixLength;
  const char* at = std::strchr(rest, '@');
  return at ? at + 1 : rest;
}

}  // namespace

UriFileMemory::~UriFileMemory() { Close(); }

void UriFileMemory::Close() {
  VexaOS::CAutoMutex outer(&m_outer);
  VexaOS::CAutoMutex inner(&m_inner);
  CloseLocked();
}

void UriFileMemory::CloseLocked() {
  UriSourceClose(m_source);
  m_source = nullptr;
  // The arena lies over the object's own storage: forgetting it gives everything back.
  m_arena = nullptr;
  m_uri = m_referrer = m_userAgent = m_cookies = nullptr;
  m_position = 0;
  m_state.store(kUriStateClosed);
}

char* UriFileMemory::CopyNarrow(const char16_t* text) {
  const size_t bytes = Utf8LengthOfWide(text) + 1;
  if (bytes > UINT32_MAX) return nullptr;
  auto* copy = static_cast<char*>(VexaOS::ArenaAlloc(m_arena, static_cast<uint32_t>(bytes)));
  if (copy && !WideToUtf8Buffer(text, copy, bytes)) return nullptr;
  return copy;
}

int32_t UriFileMemory::StartSource(const UriFileParams* params) {
  const VexaOS::ArenaDescriptor area{m_storage, kMemoryArenaBytes, kArenaAlignment};
  m_arena = VexaOS::ArenaCreate(&area);
  if (!m_arena) return kUriFailed;
  m_uri = CopyNarrow(params->uri);
  if (params->referrer) m_referrer = CopyNarrow(params->referrer);
  if (params->userAgent) m_userAgent = CopyNarrow(params->userAgent);
  if (params->cookies) m_cookies = CopyNarrow(params->cookies);
  if (!m_uri || (params->referrer && !m_referrer) || (params->userAgent && !m_userAgent) ||
      (params->cookies && !m_cookies))
    return kUriFailed;
  VexaHttp::HttpSettingsDefaults(&m_settings);
  m_settings.referrer = m_referrer;
  m_settings.userAgent = m_userAgent;
  m_settings.cookies = m_cookies;
  m_source = UriSourceOpen(m_uri, m_arena, &m_settings, &m_aborted);
  return m_source ? kUriOk : kUriFailed;
}

int32_t UriFileMemory::Open(const UriFileParams* params, AuthCallback callback, void* context) {
  VexaOS::CAutoMutex outer(&m_outer);
  {
    VexaOS::CAutoMutex inner(&m_inner);
    if (!params || !params->uri) return kUriFailed;
    CloseLocked();
    m_aborted.store(false);
    m_callback = callback;
    m_context = context;
    if (StartSource(params) != kUriOk) {
      CloseLocked();
      return kUriFailed;
    }
  }
  // The wait for the first bytes holds only the outer lock, so Abort can reach the source.
  int32_t result = UriSourceConnect(m_source);
  if (result == kUriAuthRefused) result = RetryWithCredentials();
  if (result != kUriOk) {
    VexaOS::CAutoMutex inner(&m_inner);
    CloseLocked();
    return result == kUriAuthRefused ? kUriAuthRefused : kUriFailed;
  }
  m_position = 0;
  m_state.store(kUriStateOpen);
  return kUriOk;
}

int32_t UriFileMemory::RetryWithCredentials() {
  if (!m_callback) return kUriAuthRefused;
  char login[kAuthFieldCapacity] = {};
  char password[kAuthFieldCapacity] = {};
  if (m_callback(m_context, login, password, kAuthFieldCapacity) != kUriOk) return kUriFailed;
  login[kAuthFieldCapacity - 1] = 0;
  password[kAuthFieldCapacity - 1] = 0;
  // "http://" login ":" password "@" host..., dropping credentials the URL carried before.
  const char* host = HostPart(m_uri);
  const size_t bytes = kHttpPrefixLength + std::strlen(login) + 1 + std::strlen(password) + 1 +
                       std::strlen(host) + 1;
  VexaOS::CAutoMutex inner(&m_inner);
  auto* url = static_cast<char*>(VexaOS::ArenaAlloc(m_arena, static_cast<uint32_t>(bytes)));
  if (!url) return kUriFailed;
  std::snprintf(url, bytes, "%s%s:%s@%s", kHttpPrefix, login, password, host);
  UriSourceClose(m_source);
  VexaOS::ArenaFree(m_arena, m_uri);
  m_uri = url;
  m_source = UriSourceOpen(m_uri, m_arena, &m_settings, &m_aborted);
  if (!m_source) return kUriFailed;
  if (m_aborted.load()) UriSourceAbort(m_source);
  inner.Release();
  return UriSourceConnect(m_source);
}

int32_t UriFileMemory::GetState(uint32_t* state) {
  if (!state) return kUriNullArgument;
  *state = m_state.load();
  return kUriOk;
}

int32_t UriFileMemory::CopyEngineText(bool url, char16_t* buffer, uint32_t capacity) {
  if (!buffer) return kUriNullArgument;
  VexaOS::CAutoMutex outer(&m_outer);
  if (!m_source) return kUriFailed;
  char narrow[kEngineTextBytes];
  const int32_t result = url ? UriSourceCurrentUrl(m_source, narrow, sizeof narrow)
                             : UriSourceServerName(m_source, narrow, sizeof narrow);
  if (result != kUriOk) return result;
  return Utf8ToWideBuffer(narrow, buffer, capacity) ? kUriOk : kUriTooSmall;
}

int32_t UriFileMemory::GetServerName(char16_t* buffer, uint32_t capacity) {
  return CopyEngineText(false, buffer, capacity);
}

int32_t UriFileMemory::GetCurrentUrl(char16_t* buffer, uint32_t capacity) {
  return CopyEngineText(true, buffer, capacity);
}

int32_t UriFileMemory::Seek(uint64_t offset, SeekOrigin origin) {
  VexaOS::CAutoMutex outer(&m_outer);
  uint64_t position = 0;
  if (!m_source || UriSourceSeek(m_source, origin, offset, true) != kUriOk ||
      UriSourceTell(m_source, &position, true) != kUriOk)
    return kUriFailed;
  m_position = position;
  return kUriOk;
}

int32_t UriFileMemory::Tell(uint64_t* position) {
  if (!position) return kUriNullArgument;
  VexaOS::CAutoMutex outer(&m_outer);
  if (!m_source) return kUriFailed;
  *position = m_position;
  return kUriOk;
}

int32_t UriFileMemory::ReadAt(uint64_t position, void* buffer, uint32_t* count, uint8_t blocking) {
  if (!count) return kUriNullArgument;
  VexaOS::CAutoMutex outer(&m_outer);
  return ReadAtLocked(position, buffer, count, blocking != 0);
}

int32_t UriFileMemory::Read(void* buffer, uint32_t* count, uint8_t blocking) {
  if (!count) return kUriNullArgument;
  VexaOS::CAutoMutex outer(&m_outer);
  return ReadAtLocked(m_position, buffer, count, blocking != 0);
}

int32_t UriFileMemory::ReadAtLocked(uint64_t position, void* buffer, uint32_t* count,
                                    bool blocking) {
  const uint32_t asked = *count;
  *count = 0;
  if (m_aborted.load()) return kUriAborted;
  if (!m_source) return kUriFailed;
  if (position != m_position) {
    const int32_t moved = UriSourceSeek(m_source, kSeekAbsolute, position, blocking);
    if (moved != kUriOk) return moved;
    m_position = position;
  }
  uint32_t got = asked;
  const int32_t result = UriSourceRead(m_source, buffer, &got, blocking);
  m_position += got;
  *count = got;
  // "Not ready" and "aborted" pass through: a caller polling without blocking waits on the
  // first and gives up on the second.
  switch (result) {
    case kUriOk:
    case kUriEnd:
    case kUriNotReady:
    case kUriAborted: return result;
    default: return kUriFailed;
  }
}

int32_t UriFileMemory::Abort() {
  m_aborted.store(true);
  VexaOS::CAutoMutex inner(&m_inner);
  UriSourceAbort(m_source);
  return kUriOk;
}

int32_t UriFileMemory::Resume() {
  m_aborted.store(false);
  VexaOS::CAutoMutex inner(&m_inner);
  UriSourceResume(m_source);
  return kUriOk;
}

int32_t UriFileMemory::Prefetch(uint64_t offset, uint64_t length) {
  VexaOS::CAutoMutex outer(&m_outer);
  return m_source ? UriSourcePrefetch(m_source, offset, length) : kUriFailed;
}

int32_t UriFileMemory::CancelPrefetch() {
  VexaOS::CAutoMutex outer(&m_outer);
  return m_source ? UriSourceCancelPrefetch(m_source) : kUriFailed;
}

int32_t UriFileMemory::GetMissingRange(uint64_t* offset, uint64_t* length) {
  if (!offset || !length) return kUriNullArgument;
  VexaOS::CAutoMutex outer(&m_outer);
  if (!m_source) return kUriFailed;
  // The source is asked about whole units; the parts below a unit are added back unchanged.
  const uint64_t offsetRest = *offset % kMissingRangeUnit;
  const uint64_t lengthRest = *length % kMissingRangeUnit;
  uint64_t unitOffset = *offset - offsetRest;
  uint64_t unitLength = *length - lengthRest;
  const int32_t result = UriSourceMissingRange(m_source, &unitOffset, &unitLength);
  if (result != kUriOk) return result;
  *offset = unitOffset + offsetRest;
  *length = unitLength + lengthRest;
  return kUriOk;
}

int32_t UriFileMemory::GetInfo(uint32_t id, uint64_t* value) {
  if (!value) return kUriNullArgument;
  VexaOS::CAutoMutex outer(&m_outer);
  if (!m_source) return kUriFailed;
  switch (id) {
    case kUriInfoSize: return UriSourceSize(m_source, value) ? kUriOk : kUriFailed;
    case kUriInfoByteRanges: *value = UriSourceIsForwardOnly(m_source) ? 0 : 1; return kUriOk;
    case kUriInfoDownloaded:
    case kUriInfoRate: *value = 0; return kUriOk;
    default: return kUriNotSupported;
  }
}

int32_t UriFileMemory::Unsupported() {
  VexaOS::CAutoMutex outer(&m_outer);
  return m_source ? kUriNotSupported : kUriFailed;
}

int32_t UriFileMemory::SetProperty(uint32_t, uint32_t, uint32_t) { return Unsupported(); }
int32_t UriFileMemory::GetProperty(uint32_t, uint64_t*) { return Unsupported(); }
int32_t UriFileMemory::SetTextProperty(uint32_t, const char16_t*) { return Unsupported(); }
int32_t UriFileMemory::GetTextProperty(uint32_t, char16_t*, uint32_t) { return Unsupported(); }
int32_t UriFileMemory::DeleteProperty(uint32_t) { return Unsupported(); }
int32_t UriFileMemory::SetDownloadMode(uint32_t, uint32_t) { return Unsupported(); }
int32_t UriFileMemory::GetDownloadMode(uint32_t*) { return Unsupported(); }

}  // namespace VexaUri
