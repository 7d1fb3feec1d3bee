// Holds the bytes of one sample while its writer (the demultiplexer) puts them in, and hands the
// whole sample to its receiver when the sample's timing record arrives. The sink reuses it as a
// buffer between the multiplexer library and the host's reader.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>

#include "interfaces/StreamFormatRecord.h"
#include "interfaces/bufstream.h"
#include "interfaces/NetLock.h"
#include "platform/os/StreamMemory.h"

class CTranscodeReceiver;

class CTranscodeMemConnection : public bufstream {
 public:
  // A buffer between two threads for a stream's whole life (the sink) lives in stream memory;
  // one that gathers samples, on the heap.
  enum class Storage { kHeap, kStreamMemory };
  CTranscodeMemConnection(int32_t capacity, uint32_t chunk, Storage storage = Storage::kHeap);
  virtual ~CTranscodeMemConnection();
  CTranscodeMemConnection(const CTranscodeMemConnection&) = delete;
  CTranscodeMemConnection& operator=(const CTranscodeMemConnection&) = delete;

  // Copies the record; the codec private data it points to is copied too.
  void SetFormat(const StreamFormatRecord& format);
  const StreamFormatRecord& Format() const { return m_format; }
  void SetReceiver(CTranscodeReceiver* receiver);
  // Sets the wake-up event for good: every writer waiting for room gives up now and later.
  void Wake();
  int32_t Used();
  // False when its buffer, lock or wake-up event could not be made: it then takes nothing.
  bool IsUsable() const { return m_buffer && m_lock.IsValid() && m_wakeup; }

 protected:
  // Adapts the host mutex to the standard library's lock concept, for condition waits.
  struct LockAdapter {
    CNetMutex& mutex;
    void lock() { mutex.Lock(); }
    void unlock() { mutex.Unlock(); }
  };

  uint32_t UsableBytes();
  uint8_t* Request(uint32_t count);
  uint32_t Confirm(uint32_t count);
  uint32_t CopyBytes(const uint8_t* data, uint32_t count);
  int32_t AuxInfo(uint32_t id, const void* data, uint32_t size);
  // The sink refuses every write once woken: its reader has been told the stream is over.
  bool RefusesWrites() const { return m_refuseWhenWoken && m_woken; }
  bool GrowTo(int64_t size);

  // The largest sample a connection grows to hold: more than any frame a player takes.
  static constexpr int64_t kMaxSampleBytes = int64_t(1) << 30;

  // The held bytes run from m_head for m_used bytes, on past the end of the buffer to its start.
  // Only the sink's reader moves m_head: a connection that gathers samples keeps it at 0, so
  // that a whole sample lies at the start of the buffer.
  uint32_t WriteAt() const;
  void PutBytes(const uint8_t* data, uint32_t count);

  std::unique_ptr<uint8_t[], VexaOS::StreamMemoryRelease> m_buffer;
  int32_t m_head = 0;
  int32_t m_used = 0;
  int32_t m_capacity = 0;
  uint32_t m_chunk;
  CTranscodeReceiver* m_receiver = nullptr;
  StreamFormatRecord m_format{};
  std::unique_ptr<uint8_t[]> m_private;
  CNetMutex m_lock;
  CNetEvent m_wakeup;
  // Mirrors the wake-up event. Set without the lock: a receiver may hold the lock for long.
  std::atomic<bool> m_woken{false};
  bool m_refuseWhenWoken = false;
  bool m_growsForSamples = true;
  // Signalled on every change of used, the end mark or the wake-up, so that the reader and a
  // writer waiting for room react at once.
  std::condition_variable_any m_changed;

 private:
  friend struct MemConnectionFaces;
};
