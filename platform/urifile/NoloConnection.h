// One TCP connection to a nolo server (the layout of its messages is in NoloProtocol.h). Every
// call is one request and one answer; waiting for an answer is bounded: a receive that is still
// incomplete is retried after waits of up to 100 ms, and given up (kUriFailed, the connection
// is dropped) after more than 50 attempts.
// The owner's aborted flag is looked at between attempts, so an abort from another thread
// ends a wait promptly.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/http/HttpSocket.h"
#include "platform/urifile/NoloProtocol.h"

namespace VexaOS {
struct MemoryArena;
}

namespace VexaUri {

constexpr uint32_t kNoloWaitMs = 100;
constexpr uint32_t kNoloMaxAttempts = 50;

class NoloConnection {
 public:
  // Made from `arena` (the heap without one). `aborted` outlives the connection.
  static NoloConnection* Create(VexaOS::MemoryArena* arena, const std::atomic<bool>* aborted);
  static void Destroy(NoloConnection* connection);

  // Connects and asks the size: kUriOk, kUriAborted, or kUriFailed.
  int32_t Open(const NoloAddress& address);
  uint64_t Size() const { return m_size; }
  // Reads up to `*count` bytes (at most kNoloMaxPayload) at `offset`: kUriOk with `*count` set,
  // kUriEnd at or after the end, kUriAborted, kUriFailed (also for an answer of another
  // version of the layout).
  int32_t ReadAt(uint64_t offset, void* buffer, uint32_t* count);

 private:
  NoloConnection(VexaOS::MemoryArena* arena, const std::atomic<bool>* aborted)
      : m_arena(arena), m_aborted(aborted) {}
  ~NoloConnection() = default;

  int32_t Connect(const NoloAddress& address);
  // Sends m_request (header and payload written) and receives the answer into m_answer.
  int32_t Exchange(uint8_t type, size_t payloadLength, NoloMessageView* answer);
  int32_t SendAll(size_t bytes);
  int32_t ReceiveAnswer(NoloMessageView* answer);
  // Waits up to kNoloWaitMs until the socket can be written (or read); false when aborted.
  bool WaitFor(bool writable);

  VexaOS::MemoryArena* m_arena;
  const std::atomic<bool>* m_aborted;
  VexaHttp::HttpSocket m_socket;
  uint64_t m_size = 0;
  uint16_t m_sequence = 0;
  uint8_t m_request[kNoloMaxMessage];
  uint8_t m_answer[kNoloMaxMessage];
};

}  // namespace VexaUri
