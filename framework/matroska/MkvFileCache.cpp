#include "framework/matroska/MkvFileCache.h"

#include <algorithm>
#include <cstring>

#include "framework/VmfErrors.h"

namespace mkv {

int32_t MkvFileCache::Load(uint64_t start, Window** out) {
  Window* victim = &m_windows[0];
  for (Window& w : m_windows) {
    if (w.start == start && !w.partial) {
      w.lastUse = ++m_clock;
      *out = &w;
      return VMF_OK;
    }
    if (w.lastUse < victim->lastUse) victim = &w;
  }
  for (Window& w : m_windows)
    if (w.start == start) victim = &w;  // a partial window is loaded again in place
  victim->bytes.resize(kWindowSize);
  victim->start = UINT64_MAX;
  victim->partial = false;
  uint32_t filled = 0;
  while (filled < kWindowSize) {
    uint32_t got = 0;
    const int32_t rc = m_source->ReadAt(start + filled, victim->bytes.data() + filled,
                                       kWindowSize - filled, &got);
    if (rc == VMF_ERR_DATA_NOT_READY && filled != 0) {
      // Keep what arrived; the bytes after it are asked for again on the next use.
      victim->partial = true;
      break;
    }
    if (rc != VMF_OK) return rc;
    if (got == 0) break;
    filled += got;
  }
  victim->start = start;
  victim->length = filled;
  victim->lastUse = ++m_clock;
  *out = victim;
  return VMF_OK;
}

int32_t MkvFileCache::ReadSome(uint64_t offset, uint8_t* dst, size_t count, size_t* got) {
  *got = 0;
  if (count >= kWindowSize) {
    // Large payloads go straight to the source.
    while (*got < count) {
      const uint32_t step = static_cast<uint32_t>(std::min<size_t>(count - *got, 1u << 30));
      uint32_t n = 0;
      const int32_t rc = m_source->ReadAt(offset + *got, dst + *got, step, &n);
      if (rc != VMF_OK) return rc;
      if (n == 0) break;
      *got += n;
    }
    return VMF_OK;
  }
  while (*got < count) {
    const uint64_t pos = offset + *got;
    Window* w = nullptr;
    const int32_t rc = Load(pos - pos % kWindowSize, &w);
    if (rc != VMF_OK) return rc;
    const uint64_t inWindow = pos - w->start;
    if (inWindow >= w->length) {
      if (w->partial) return VMF_ERR_DATA_NOT_READY;
      break;
    }
    const size_t n = std::min<size_t>(count - *got, w->length - inWindow);
    std::memcpy(dst + *got, w->bytes.data() + inWindow, n);
    *got += n;
  }
  return VMF_OK;
}

int32_t MkvFileCache::Read(uint64_t offset, uint8_t* dst, size_t count) {
  size_t got = 0;
  const int32_t rc = ReadSome(offset, dst, count, &got);
  if (rc != VMF_OK) return rc;
  return got == count ? VMF_OK : VMF_SHORT_READ;
}

}  // namespace mkv
