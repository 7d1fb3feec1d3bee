#include "platform/urifile/UriFileLocal.h"

#include "platform/os/MemoryArena.h"
#include "platform/urifile/LocalFileHandle.h"

namespace VexaUri {

using namespace VexaFiles;

namespace {
// Pointer alignment: the records carved from the arena hold pointers and 64-bit counts.
constexpr uint32_t kArenaAlignment = alignof(uint64_t);
}

UriFileLocal::~UriFileLocal() { Close(); }

int32_t UriFileLocal::Open(const char16_t* uri) {
  VexaOS::CAutoMutex hold(&m_lock);
  CloseLocked();
  const VexaOS::ArenaDescriptor area{m_arenaBytes, kArenaBytes, kArenaAlignment};
  m_arena = VexaOS::ArenaCreate(&area);
  if (!m_arena) return kUriFailed;
  m_file = LocalFileHandle::Create(m_arena);
  if (!m_file || m_file->Open(uri, kLocalRead) != kUriOk) {
    CloseLocked();
    return kUriFailed;
  }
  return kUriOk;
}

void UriFileLocal::Close() {
  VexaOS::CAutoMutex hold(&m_lock);
  CloseLocked();
}

void UriFileLocal::CloseLocked() {
  LocalFileHandle::Destroy(m_file);
  m_file = nullptr;
  m_arena = nullptr;
  m_position = 0;
}

int32_t UriFileLocal::GetState(uint32_t* state) {
  if (!state) return kUriNullArgument;
  *state = kUriStateComplete;
  return kUriOk;
}

int32_t UriFileLocal::Seek(uint64_t offset, SeekOrigin origin) {
  VexaOS::CAutoMutex hold(&m_lock);
  if (!m_file || m_file->Seek(offset, origin) != kUriOk) return kUriFailed;
  m_position = m_file->Tell();
  return kUriOk;
}

int32_t UriFileLocal::Tell(uint64_t* position) {
  if (!position) return kUriNullArgument;
  VexaOS::CAutoMutex hold(&m_lock);
  if (!m_file) return kUriFailed;
  *position = m_position;
  return kUriOk;
}

int32_t UriFileLocal::ReadAt(uint64_t position, void* buffer, uint32_t* count, uint8_t) {
  if (!count) return kUriNullArgument;
  VexaOS::CAutoMutex hold(&m_lock);
  return ReadAtLocked(position, buffer, count);
}

int32_t UriFileLocal::Read(void* buffer, uint32_t* count, uint8_t) {
  if (!count) return kUriNullArgument;
  VexaOS::CAutoMutex hold(&m_lock);
  return ReadAtLocked(m_position, buffer, count);
}

int32_t UriFileLocal::ReadAtLocked(uint64_t position, void* buffer, uint32_t* count) {
  const uint32_t asked = *count;
  *count = 0;
  if (m_paused.load()) return kUriAborted;
  if (!m_file) return kUriFailed;
  // The handle's own position tells whether the system needs to move: a read that continues
  // where the last one stopped costs no seek.
  if (position != m_position) {
    if (m_file->Seek(position, kSeekAbsolute) != kUriOk) return kUriFailed;
    m_position = position;
  }
  uint32_t moved = asked;
  const int32_t result = m_file->Read(buffer, &moved);
  m_position += moved;
  *count = moved;
  if (result == kLocalMovedNothing) return kUriEnd;
  return result == kUriOk ? kUriOk : kUriFailed;
}

int32_t UriFileLocal::Abort() {
  m_paused.store(true);
  return kUriOk;
}

int32_t UriFileLocal::Resume() {
  m_paused.store(false);
  return kUriOk;
}

int32_t UriFileLocal::Prefetch(uint64_t, uint64_t) {
  VexaOS::CAutoMutex hold(&m_lock);
  return m_file ? kUriOk : kUriFailed;
}

int32_t UriFileLocal::CancelPrefetch() {
  VexaOS::CAutoMutex hold(&m_lock);
  return m_file ? kUriOk : kUriFailed;
}

int32_t UriFileLocal::GetMissingRange(uint64_t* offset, uint64_t* length) {
  if (!offset || !length) return kUriNullArgument;
  VexaOS::CAutoMutex hold(&m_lock);
  if (!m_file) return kUriFailed;
  *offset += *length;  // every byte is here: nothing of the range is missing
  *length = 0;
  return kUriOk;
}

int32_t UriFileLocal::GetInfo(uint32_t, uint64_t* value) {
  if (!value) return kUriNullArgument;
  VexaOS::CAutoMutex hold(&m_lock);
  if (!m_file) return kUriFailed;
  return m_file->Size(value) == kUriOk ? kUriOk : kUriFailed;
}

int32_t UriFileLocal::Unsupported() {
  VexaOS::CAutoMutex hold(&m_lock);
  return m_file ? kUriNotSupported : kUriFailed;
}

int32_t UriFileLocal::SetProperty(uint32_t, uint32_t, uint32_t) { return Unsupported(); }
int32_t UriFileLocal::GetProperty(uint32_t, uint64_t*) { return Unsupported(); }
int32_t UriFileLocal::SetTextProperty(uint32_t, const char16_t*) { return Unsupported(); }
int32_t UriFileLocal::GetTextProperty(uint32_t, char16_t*, uint32_t) { return Unsupported(); }
int32_t UriFileLocal::DeleteProperty(uint32_t) { return Unsupported(); }
int32_t UriFileLocal::SetDownloadMode(uint32_t, uint32_t) { return Unsupported(); }
int32_t UriFileLocal::GetDownloadMode(uint32_t*) { return Unsupported(); }

}  // namespace VexaUri
