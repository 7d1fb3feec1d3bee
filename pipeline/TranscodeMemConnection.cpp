#include "pipeline/TranscodeMemConnection.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>

#include "interfaces/SampleTimingRecord.h"
#include "pipeline/TranscodeReceiver.h"

// The bufstream functions: each finds its connection from the record's address.
struct MemConnectionFaces {
  static CTranscodeMemConnection* Self(bufstream* face) { return static_cast<CTranscodeMemConnection*>(face); }
  static uint32_t Usable(bufstream* face) { return Self(face)->UsableBytes(); }
  static uint8_t* Request(bufstream* face, uint32_t n) { return Self(face)->Request(n); }
  static uint32_t Confirm(bufstream* face, uint32_t n) { return Self(face)->Confirm(n); }
  static uint32_t Copy(bufstream* face, uint8_t* data, uint32_t n) { return Self(face)->CopyBytes(data, n); }
  static uint32_t Chunk(bufstream* face) { return Self(face)->m_chunk; }
  static int32_t Aux(bufstream* face, uint32_t, uint32_t id, void* data, uint32_t size) {
    return Self(face)->AuxInfo(id, data, size);
  }
};

CTranscodeMemConnection::CTranscodeMemConnection(int32_t capacity, uint32_t chunk, Storage storage)
    : bufstream{MemConnectionFaces::Usable, MemConnectionFaces::Request, MemConnectionFaces::Confirm,
                MemConnectionFaces::Copy,   MemConnectionFaces::Chunk,   MemConnectionFaces::Aux, {}},
      m_chunk(chunk) {
  if (capacity > 0 && storage == Storage::kStreamMemory)
    m_buffer = {VexaOS::AllocateStreamMemory(size_t(capacity)), VexaOS::StreamMemoryRelease{size_t(capacity)}};
  else if (capacity > 0)
    m_buffer.reset(new (std::nothrow) uint8_t[capacity]);
  m_capacity = m_buffer ? capacity : 0;
  m_lock.Create();
  m_wakeup.Create(true);
}

CTranscodeMemConnection::~CTranscodeMemConnection() {
  Wake();
  {
    CNetLock held(m_lock);
    m_buffer.reset();
    m_head = 0;
    m_used = 0;
    m_capacity = 0;
  }
  m_private.reset();
  m_lock.Destroy();
  m_wakeup.Destroy();
}

void CTranscodeMemConnection::SetFormat(const StreamFormatRecord& format) {
  CNetLock held(m_lock);
  m_private.reset();
  m_format = format;
  if (format.privateData && format.privateSize) {
    m_private.reset(new (std::nothrow) uint8_t[format.privateSize]);
    if (m_private) std::memcpy(m_private.get(), format.privateData, format.privateSize);
  }
  m_format.privateData = m_private.get();
  if (!m_private) m_format.privateSize = 0;
}

void CTranscodeMemConnection::SetReceiver(CTranscodeReceiver* receiver) {
  CNetLock held(m_lock);
  m_receiver = receiver;
}

void CTranscodeMemConnection::Wake() {
  if (m_wakeup) NetEventSet(m_wakeup.Handle());
  m_woken = true;
  m_changed.notify_all();
}

int32_t CTranscodeMemConnection::Used() {
  CNetLock held(m_lock);
  return m_used;
}

uint32_t CTranscodeMemConnection::UsableBytes() {
  CNetLock held(m_lock);
  return uint32_t(m_capacity - m_used);
}

uint32_t CTranscodeMemConnection::WriteAt() const {
  int64_t at = int64_t(m_head) + m_used;
  return uint32_t(at >= m_capacity ? at - m_capacity : at);
}

// Copies behind the held bytes, in two pieces where they reach the end of the buffer.
void CTranscodeMemConnection::PutBytes(const uint8_t* data, uint32_t n) {
  uint32_t at = WriteAt();
  uint32_t first = std::min(n, uint32_t(m_capacity) - at);
  std::memcpy(m_buffer.get() + at, data, first);
  if (first < n) std::memcpy(m_buffer.get(), data + first, n - first);
}

// Keeps the lock held on success: the writer's following Confirm releases it. The bytes must
// be contiguous: a request that would cross the end of the buffer is refused.
uint8_t* CTranscodeMemConnection::Request(uint32_t n) {
  if (!m_lock.Lock()) return nullptr;
  uint32_t at = WriteAt();
  if (!RefusesWrites() && int64_t(n) < int64_t(m_capacity) - m_used && int64_t(at) + n <= m_capacity)
    return m_buffer.get() + at;
  m_lock.Unlock();
  return nullptr;
}

uint32_t CTranscodeMemConnection::Confirm(uint32_t n) {
  m_used += int32_t(n);
  m_lock.Unlock();
  m_changed.notify_all();
  return n;
}

// Makes room for a sample larger than the buffer: the bytes held so far stay in front.
bool CTranscodeMemConnection::GrowTo(int64_t size) {
  if (size > kMaxSampleBytes) return false;
  std::unique_ptr<uint8_t[], VexaOS::StreamMemoryRelease> grown(new (std::nothrow) uint8_t[size_t(size)]);
  if (!grown) return false;
  if (m_used) std::memcpy(grown.get(), m_buffer.get(), size_t(m_used));
  m_buffer = std::move(grown);
  m_capacity = int32_t(size);
  return true;
}

uint32_t CTranscodeMemConnection::CopyBytes(const uint8_t* data, uint32_t n) {
  if (!IsUsable()) return 0;
  LockAdapter adapter{m_lock};
  std::unique_lock held(adapter);
  // A connection that gathers one sample for its receiver holds it whole, however large; a
  // buffer between two threads (the sink) makes the writer wait, and refuses what never fits.
  if (int64_t(m_used) + n > m_capacity) {
    if (m_growsForSamples) {
      if (!GrowTo(int64_t(m_used) + n)) return 0;
    } else if (int64_t(n) > m_capacity) {
      return 0;
    }
  }
  // Waits in 10 ms steps while the bytes do not fit; a reader that makes room, or the wake-up,
  // ends the step at once.
  while (int64_t(m_used) + n > m_capacity) {
    if (m_woken) return 0;
    m_changed.wait_for(held, std::chrono::milliseconds(10));
  }
  if (RefusesWrites()) return 0;
  if (n) PutBytes(data, n);
  m_used += int32_t(n);
  held.unlock();
  m_changed.notify_all();
  return n;
}

// A valid timing record ends the sample: the accumulated bytes go to the receiver as one sample.
int32_t CTranscodeMemConnection::AuxInfo(uint32_t id, const void* data, uint32_t size) {
  if (id != kAuxSampleTiming || !data || size < kSampleTimingRecordSize) return 0;
  SampleTimingRecord record;
  std::memcpy(&record, data, sizeof record);
  if (!record.startValid) return 0;
  {
    CNetLock held(m_lock);
    if (!held.Held()) return 0;
    m_format.startTime = record.start;
    if (m_receiver) m_receiver->Receive(m_buffer.get(), uint32_t(m_used), &m_format);
    m_used = 0;
  }
  m_changed.notify_all();
  return 0;
}
