// Reference-count bases shared by the transcoder object and the pipeline nodes.
#pragma once

#include <atomic>
#include <cstdint>

#include "interfaces/public/TranscoderInterfaces.h"

// The transcoder object's count. Starts at 1; the object deletes itself when it reaches 0.
// The count is atomic: CreateJob adds its reference outside every lock.
class CRefCounter : public Stackvale::NetworkStreaming::INetRefCounted {
 public:
  int32_t AddRef() override { return m_count.fetch_add(1, std::memory_order_relaxed) + 1; }
  int32_t Release() override {
    int32_t now = m_count.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (now != 0) return now;
    m_count.store(1, std::memory_order_relaxed);  // the destructor may take and drop references
    delete this;
    return 0;
  }

 private:
  std::atomic<int32_t> m_count{1};
};

// The count of pipeline nodes and of the container wrapper. Starts at 1. The class that embeds
// it destroys itself when SafeRelease answers 0.
class CSafetyRefCnt {
 public:
  virtual ~CSafetyRefCnt() = default;
  virtual void Touch() {}

  int32_t SafeAddRef() { return m_count.fetch_add(1, std::memory_order_relaxed) + 1; }
  int32_t SafeRelease() { return m_count.fetch_sub(1, std::memory_order_acq_rel) - 1; }
  int32_t SafeCount() const { return m_count.load(std::memory_order_relaxed); }

 private:
  std::atomic<int32_t> m_count{1};
};
