#include "platform/os/SharedSegment.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "platform/os/win32/WindowsText.h"

namespace VexaOS {
namespace {

constexpr uint32_t kReady = 0x56584F53;  // "VXOS"
// The longest system name, as on the other systems, well inside what Windows takes.
constexpr size_t kLongestSystemName = 255;
// How long an opening waits for the creator to finish initialising: only a creator that died
// in those few instructions makes it wait that long.
constexpr DWORD kInitialiseWaitMs = 5000;

struct Header {
  std::atomic<uint32_t> ready;
  uint32_t reserved[3];
};
static_assert(sizeof(Header) == 16);

}  // namespace

std::string SharedSegment::SystemName(const char* kind, const char* name) {
  std::string result = "Local\\vexa.";
  result += kind;
  result += '.';
  for (const char* c = name; *c; ++c) {
    if (*c == '\\')
      result += "%5C";  // a backslash would name another namespace
    else if (*c == '%')
      result += "%25";
    else
      result += *c;
  }
  if (result.size() > kLongestSystemName) return {};
  return result;
}

bool SharedSegment::Open(const char* kind, const char* name, size_t payloadSize,
                         Initialise initialise, void* argument) {
  Close();
  std::wstring systemName;
  if (!Utf8ToWide(SystemName(kind, name), systemName) || systemName.empty()) return false;
  const size_t total = sizeof(Header) + payloadSize;
  COpenToEveryone security;
  COsHandle section(::CreateFileMappingW(INVALID_HANDLE_VALUE, security.Get(), PAGE_READWRITE, 0,
                                         static_cast<DWORD>(total), systemName.c_str()));
  if (!section) return false;
  const bool created = ::GetLastError() != ERROR_ALREADY_EXISTS;
  void* mapping = ::MapViewOfFile(section.get(), FILE_MAP_ALL_ACCESS, 0, 0, total);
  if (!mapping) return false;
  auto* header = static_cast<Header*>(mapping);
  void* payload = static_cast<char*>(mapping) + sizeof(Header);
  bool ready = true;
  if (created) {  // the paging file hands out zeroed pages
    ready = initialise(payload, argument);
    if (ready) header->ready.store(kReady, std::memory_order_release);
  } else {
    const ULONGLONG deadline = ::GetTickCount64() + kInitialiseWaitMs;
    while (header->ready.load(std::memory_order_acquire) != kReady && (ready = ::GetTickCount64() < deadline))
      ::Sleep(1);
  }
  if (!ready) {
    ::UnmapViewOfFile(mapping);
    return false;
  }
  m_section = std::move(section);
  m_mapping = mapping;
  m_mappedSize = total;
  m_payload = payload;
  m_systemName = SystemName(kind, name);
  return true;
}

// The system keeps the section while any process holds it; a lock in it is the kernel's
// business on Windows, so nothing needs to stay mapped.
void SharedSegment::Close(bool) {
  if (!m_section) return;
  ::UnmapViewOfFile(m_mapping);
  m_section.reset();
  m_mapping = nullptr;
  m_payload = nullptr;
  m_mappedSize = 0;
}

}  // namespace VexaOS
