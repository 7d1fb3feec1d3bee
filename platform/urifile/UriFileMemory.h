// An IUriFile that streams a network resource (or a "file://" path) through a UriSource into
// memory. Everything it needs after construction (the source, the HTTP engine with its block
// cache and connections, the narrow copies of its strings) comes from a 5 MiB arena inside the
// object, so streaming never touches the heap; that is why the object is large and made once
// per opened stream.
//
// Locks: the outer lock serialises every operation (a blocking read holds it while it waits
// for the network); the inner one guards the source pointer while open and close change it,
// always taken inside the outer one. Abort and Resume take only the inner lock, which no
// wait holds, so an abort from another thread reaches a read that is blocked in the source.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/http/HttpEngine.h"
#include "platform/os/VexaMutex.h"
#include "platform/urifile/IUriFile.h"

namespace VexaOS {
struct MemoryArena;
}

namespace VexaUri {

struct UriSource;

constexpr size_t kMemoryArenaBytes = 0x500000;
// The 32-byte units GetMissingRange asks the source about.
constexpr uint64_t kMissingRangeUnit = 32;
// Room for a server name or a URL copied out of the engine.
constexpr uint32_t kEngineTextBytes = 2048;

class UriFileMemory final : public IUriFile {
 public:
  UriFileMemory() = default;
  ~UriFileMemory() override;
  UriFileMemory(const UriFileMemory&) = delete;
  UriFileMemory& operator=(const UriFileMemory&) = delete;

  // Closes what is open, opens a source on the URI and waits until it serves. When the server
  // asks for credentials, `callback` is asked once and the source is opened again with them.
  // kUriOk; kUriAuthRefused; kUriFailed for anything else (the object is then closed and may be
  // opened again).
  int32_t Open(const UriFileParams* params, AuthCallback callback, void* context);
  void Close();

  int32_t GetState(uint32_t* state) override;
  int32_t GetServerName(char16_t* buffer, uint32_t capacity) override;
  int32_t GetCurrentUrl(char16_t* buffer, uint32_t capacity) override;
  int32_t Seek(uint64_t offset, SeekOrigin origin) override;
  int32_t Tell(uint64_t* position) override;
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

 private:
  // Under both locks.
  void CloseLocked();
  int32_t StartSource(const UriFileParams* params);
  char* CopyNarrow(const char16_t* text);
  // Under the outer lock.
  int32_t RetryWithCredentials();
  int32_t ReadAtLocked(uint64_t position, void* buffer, uint32_t* count, bool blocking);
  int32_t CopyEngineText(bool url, char16_t* buffer, uint32_t capacity);
  int32_t Unsupported();

  VexaOS::CVexaMutex m_outer;
  VexaOS::CVexaMutex m_inner;
  alignas(8) unsigned char m_storage[kMemoryArenaBytes];
  VexaOS::MemoryArena* m_arena = nullptr;
  UriSource* m_source = nullptr;
  std::atomic<uint32_t> m_state{kUriStateClosed};
  std::atomic<bool> m_aborted{false};
  uint64_t m_position = 0;
  AuthCallback m_callback = nullptr;
  void* m_context = nullptr;
  VexaHttp::HttpSettings m_settings{};
  // Narrow copies in the arena; null when not given.
  char* m_uri = nullptr;
  char* m_referrer = nullptr;
  char* m_userAgent = nullptr;
  char* m_cookies = nullptr;
};

}  // namespace VexaUri
