// An IUriFile over a local file named by a "file:" URI. Every byte is present, so it always
// reports itself complete; prefetching has nothing to do. Its operations run under its lock;
// Abort and Resume only flip the paused flag, so they never wait for a read.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/os/VexaMutex.h"
#include "platform/urifile/IUriFile.h"

namespace VexaOS {
struct MemoryArena;
}

namespace VexaUri {

class LocalFileHandle;

class UriFileLocal : public IUriFile {
 public:
  UriFileLocal() = default;
  ~UriFileLocal() override;
  UriFileLocal(const UriFileLocal&) = delete;
  UriFileLocal& operator=(const UriFileLocal&) = delete;

  // Closes what is open, then opens `uri` for reading: kUriOk or kUriFailed.
  int32_t Open(const char16_t* uri);
  void Close();

  int32_t GetState(uint32_t* state) override;
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
  static constexpr size_t kArenaBytes = 1024;

  void CloseLocked();
  int32_t ReadAtLocked(uint64_t position, void* buffer, uint32_t* count);
  // kUriOk when a file is open, else kUriFailed; for slots the class does not serve, the
  // kUriNotSupported that follows.
  int32_t Unsupported();

  VexaOS::CVexaMutex m_lock;
  alignas(8) unsigned char m_arenaBytes[kArenaBytes];
  VexaOS::MemoryArena* m_arena = nullptr;
  LocalFileHandle* m_file = nullptr;
  std::atomic<bool> m_paused{false};
  uint64_t m_position = 0;
};

}  // namespace VexaUri
