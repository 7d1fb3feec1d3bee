#include "pipeline/TranscodeSink.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

namespace {
constexpr int32_t kSinkCapacity = 0x500000;
constexpr uint32_t kSinkChunk = 0x10000;
// A wake-up is signalled without the lock; the reader re-checks at this pace in case the
// signal fell between its test and its wait.
constexpr auto kReaderRecheck = std::chrono::milliseconds(100);
constexpr uint32_t kTsPacketBytes = 188;
// Read's answers at the node's border.
constexpr int32_t kReadOk = 0;
constexpr int32_t kReadEnded = -1;
}  // namespace

uint32_t CTranscodeSink::Portion(uint32_t capacity) const {
  uint32_t held = std::min(uint32_t(m_used), capacity);
  if (capacity < kTsPacketBytes || m_end) return held;
  uint64_t boundary = (m_handedOut + held) / kTsPacketBytes * kTsPacketBytes;
  return boundary > m_handedOut ? uint32_t(boundary - m_handedOut) : 0;
}

CTranscodeSink::CTranscodeSink(CTranscodeNodeObserver* observer)
    : CTranscodeMemConnection(kSinkCapacity, kSinkChunk, Storage::kStreamMemory), m_observer(observer) {
  m_refuseWhenWoken = true;
  m_growsForSamples = false;
}

CTranscodeSink::~CTranscodeSink() {
  {
    CNetLock held(m_lock);
    m_head = 0;
    m_used = 0;
    m_end = false;
  }
  Wake();
}

int32_t CTranscodeSink::Release() {
  int32_t now = SafeRelease();
  if (now == 0) delete this;
  return now;
}

int32_t CTranscodeSink::Read(uint8_t* buffer, uint32_t capacity, uint32_t* count) {
  if (!buffer || !count || !IsUsable()) return kReadEnded;
  *count = 0;
  if (capacity == 0) return kReadOk;
  LockAdapter adapter{m_lock};
  std::unique_lock held(adapter);
  for (;;) {
    uint32_t taken = m_used > 0 ? Portion(capacity) : 0;
    if (taken > 0) {
      m_handedOut += taken;
      TakeBytes(buffer, taken);
      *count = taken;
      held.unlock();
      m_changed.notify_all();
      return kReadOk;
    }
    if (m_end && m_used == 0) {
      m_end = false;
      held.unlock();
      if (m_observer) m_observer->Notify(kNodeEventEndDelivered);
      return kReadEnded;
    }
    if (m_woken) return kReadOk;
    m_changed.wait_for(held, kReaderRecheck);
  }
}

// Copies from the oldest held bytes, in two pieces where they wrap; the buffer is never shifted,
// so a reader taking small pieces costs only its own copy.
void CTranscodeSink::TakeBytes(uint8_t* buffer, uint32_t count) {
  uint32_t first = std::min(count, uint32_t(m_capacity - m_head));
  std::memcpy(buffer, m_buffer.get() + m_head, first);
  if (first < count) std::memcpy(buffer + first, m_buffer.get(), count - first);
  m_used -= int32_t(count);
  // An emptied buffer starts again at its beginning: the next bytes stay in one piece.
  m_head = m_used == 0 ? 0 : int32_t((uint32_t(m_head) + count) % uint32_t(m_capacity));
}

void CTranscodeSink::Reset() {
  {
    CNetLock held(m_lock);
    m_head = 0;
    m_used = 0;
    m_end = false;
  }
  Wake();
}

void CTranscodeSink::SetEndOfStream() {
  {
    CNetLock held(m_lock);
    m_end = true;
  }
  m_changed.notify_all();
}
