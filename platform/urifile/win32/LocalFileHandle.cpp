// The local file over a Win32 file handle. Reads and writes name their offset (the kept
// position) in an OVERLAPPED record, so they never depend on where the system's file pointer is.
#include "platform/urifile/LocalFileHandle.h"

#include <windows.h>
#include <shlwapi.h>
#include <winioctl.h>

#include <atomic>
#include <new>

#include "platform/files/TextConvert.h"
#include "platform/os/MemoryArena.h"

namespace VexaUri {
namespace {

constexpr DWORD kPathChars = 2048;  // with the terminator

std::atomic<uint64_t> systemSeeks{0};

HANDLE Handle(void* file) { return static_cast<HANDLE>(file); }

struct OpenRequest {
  DWORD access;
  DWORD share;
  DWORD disposition;
};

OpenRequest RequestFor(uint32_t flags) {
  OpenRequest request{0, 0, OPEN_EXISTING};
  if (flags & kLocalWrite)
    request.access = (flags & kLocalRead) ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
  else if (flags & kLocalRead)
    request.access = GENERIC_READ;
  if (flags & (kLocalRead | kLocalWrite)) request.share = FILE_SHARE_READ;
  if (flags & kLocalCreate) request.disposition = (flags & kLocalCreateOnlyNew) ? CREATE_NEW : OPEN_ALWAYS;
  return request;
}

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(offset);
  where.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return where;
}

}  // namespace

LocalFileHandle* LocalFileHandle::Create(VexaOS::MemoryArena* arena) {
  void* place = VexaOS::ArenaOrHeapAlloc(arena, sizeof(LocalFileHandle));
  return place ? new (place) LocalFileHandle(arena) : nullptr;
}

void LocalFileHandle::Destroy(LocalFileHandle* handle) {
  if (!handle) return;
  VexaOS::MemoryArena* arena = handle->m_arena;
  handle->Close();
  handle->~LocalFileHandle();
  VexaOS::ArenaOrHeapFree(arena, handle);
}

bool LocalFileHandle::IsOpen() const { return m_file != nullptr; }

int32_t LocalFileHandle::Open(const char16_t* url, uint32_t flags) {
  Close();
  if (!url) return kLocalSystemFailure;
  wchar_t path[kPathChars];
  DWORD length = kPathChars;
  if (::PathCreateFromUrlW(reinterpret_cast<const wchar_t*>(url), path, &length, 0) != S_OK) return kLocalSystemFailure;
  std::string narrow;
  if (!VexaFiles::Utf16ToUtf8String(std::u16string_view(reinterpret_cast<const char16_t*>(path), length), narrow))
    return kLocalSystemFailure;
  const OpenRequest request = RequestFor(flags);
  HANDLE file = ::CreateFileW(path, request.access, request.share, nullptr, request.disposition, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (file == INVALID_HANDLE_VALUE) return kLocalSystemFailure;
  if (flags & kLocalSparse) {
    DWORD ignored = 0;
    ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
  }
  m_file = file;
  m_path = std::move(narrow);
  m_position = 0;
  return VexaFiles::kUriOk;
}

void LocalFileHandle::Close() {
  if (m_file) ::CloseHandle(Handle(m_file));
  m_file = nullptr;
  m_path.clear();
  m_position = 0;
}

int32_t LocalFileHandle::Seek(uint64_t offset, VexaFiles::SeekOrigin origin) {
  if (!IsOpen()) return kLocalSystemFailure;
  uint64_t target = 0;
  if (!SeekTarget(offset, origin, &target)) return kLocalSystemFailure;
  systemSeeks.fetch_add(1, std::memory_order_relaxed);
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(target);
  if (!::SetFilePointerEx(Handle(m_file), distance, nullptr, FILE_BEGIN)) return kLocalSystemFailure;
  m_position = target;
  return VexaFiles::kUriOk;
}

int32_t LocalFileHandle::Read(void* buffer, uint32_t* count) {
  if (!count) return kLocalSystemFailure;
  const uint32_t asked = *count;
  *count = 0;
  if (!IsOpen() || (!buffer && asked != 0)) return kLocalSystemFailure;
  OVERLAPPED where = At(m_position);
  DWORD got = 0;
  if (!::ReadFile(Handle(m_file), buffer, asked, &got, &where))
    return ::GetLastError() == ERROR_HANDLE_EOF ? kLocalMovedNothing : kLocalSystemFailure;
  if (got == 0) return kLocalMovedNothing;
  *count = got;
  m_position += got;
  return VexaFiles::kUriOk;
}

int32_t LocalFileHandle::Write(const void* buffer, uint32_t* count) {
  if (!count) return kLocalSystemFailure;
  const uint32_t asked = *count;
  *count = 0;
  if (!IsOpen() || (!buffer && asked != 0)) return kLocalSystemFailure;
  OVERLAPPED where = At(m_position);
  DWORD put = 0;
  if (!::WriteFile(Handle(m_file), buffer, asked, &put, &where)) return kLocalSystemFailure;
  if (put == 0) return kLocalMovedNothing;
  *count = put;
  m_position += put;
  return VexaFiles::kUriOk;
}

int32_t LocalFileHandle::Size(uint64_t* size) const {
  LARGE_INTEGER bytes;
  if (!size || !IsOpen() || !::GetFileSizeEx(Handle(m_file), &bytes)) return kLocalSystemFailure;
  *size = static_cast<uint64_t>(bytes.QuadPart);
  return VexaFiles::kUriOk;
}

uint64_t LocalFileHandle::SystemSeekCount() { return systemSeeks.load(std::memory_order_relaxed); }

}  // namespace VexaUri
