// One HTTP connection: a queue of up to eight range requests, sent (pipelined on keep-alive)
// to one URL, with the response header read into a fixed buffer and the body handed to the
// engine as it arrives. Every step is a few non-blocking socket calls.
#pragma once

#include <cstdint>

#include "platform/http/HttpSocket.h"
#include "platform/http/HttpUrl.h"
#include "platform/os/VexaTime.h"

namespace VexaHttp {

struct HttpResponse;

constexpr uint32_t kConnectionSlots = 8;
constexpr uint32_t kHeaderCapacity = 2048;
constexpr uint32_t kMaxRedirects = 20;
constexpr uint32_t kDefaultIdleTimeoutMs = 15000;
// Resets in a row without a byte of progress after which the connection gives up.
constexpr uint32_t kMaxFruitlessResets = 3;
constexpr uint64_t kUnboundedLength = UINT64_MAX;
constexpr uint32_t kMaxReferrerLength = 4095;
constexpr uint32_t kMaxUserAgentLength = 2047;
constexpr uint32_t kMaxCookiesLength = 65535;
constexpr uint32_t kResponseValueCapacity = 256;

enum ConnectionState : uint32_t {
  kConnectionIdle = 0,
  kConnectionAuthRequired = 1,
  kConnectionConnecting = 2,
  kConnectionConnected = 3,
  kConnectionClosing = 4,  // closes after the current body
  kConnectionFailed = 5,
};

enum ConnectionPhase : uint32_t {
  kPhaseReady = 0,
  kPhaseSendingFirst = 1,
  kPhaseReceivingHeader = 2,
  kPhaseReceivingBody = 3,
  kPhaseSendingNext = 4,  // a request goes out while a body still arrives
};

enum ConnectionStatusKind : uint32_t {
  kStatusIdle = 0,
  kStatusBusy = 1,
  kStatusAuthRequired = 2,
  kStatusFailed = 3,
  kStatusTooManyRedirects = 4,
};

enum ConnectionQueueResult : int32_t { kQueueAccepted = 0, kQueueFull = 4 };

// Offset and length both 0: the whole resource (before its header told the size).
struct RangeRequest {
  uint64_t offset;
  uint64_t length;
};

struct ConnectionStatus {
  uint32_t kind;
  TextSpan lastModified;
  TextSpan etag;
  uint64_t totalSize;
  uint32_t sizeKnown;
  int32_t error;
};

class HttpConnection {
 public:
  // Strings are kept by pointer and must outlive the connection. A URL of 4096 bytes or more,
  // or a referrer of more than 4095, leave the connection failed; an over-long user agent or
  // cookie text is left out of the requests.
  HttpConnection(const char* url, const char* referrer, const char* userAgent, const char* cookies);
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  int32_t QueueRange(uint64_t offset, uint64_t length);
  void Step();
  ConnectionStatus Status() const;
  // True while a queued, sent or arriving request still covers `offset`.
  bool Covers(uint64_t offset) const;
  bool HasRequests() const { return RequestCount() != 0; }
  // True once a success header was accepted.
  bool HasResponse() const { return m_responses != 0; }
  uint32_t FreeSlots() const { return kConnectionSlots - RequestCount(); }

  // The body that is arriving: its next offset and the bytes still expected.
  bool ArrivingRange(RangeRequest* range) const;
  // Moves up to `capacity` body bytes (never past the arriving request) into `out`.
  void ReceiveBody(uint8_t* out, uint32_t capacity, uint32_t* count);

  const char* Url() const { return m_url; }
  const char* Server() const { return m_server; }
  ConnectionState State() const { return m_state; }
  void SetIdleTimeout(uint32_t milliseconds) { m_idleTimeoutMs = milliseconds; }
  // The reader took bytes: a body held back by a full cache is not a stalled server.
  void TouchIdle();
  uint32_t RedirectCount() const { return m_redirects; }

 private:
  struct Slot {
    RangeRequest range;
    bool used;
  };

  uint32_t RequestCount() const;
  void StepConnecting();
  void StepConnected();
  void StartConnect();
  bool SendRequest();
  void ReceiveHeader();
  void AcceptSuccess(uint32_t headerLength);
  bool CheckAgainstRequest(const RangeRequest& asked, const HttpResponse& response);
  void FollowRedirect(const TextSpan& location);
  void FinishBody();
  void PeerClosedBody();
  void Reset();
  void Fail(int32_t error);
  void PushFront(const Slot& slot);
  bool IdleTooLong() const { return m_idle.Elapsed() > m_idleTimeoutMs; }
  void MarkProgress();

  ConnectionState m_state = kConnectionIdle;
  ConnectionPhase m_phase = kPhaseReady;
  HttpSocket m_socket;
  char m_url[kHttpUrlCapacity];
  const char* m_referrer;
  const char* m_userAgent;
  const char* m_cookies;

  char m_request[2048];
  uint32_t m_requestSent = 0;
  uint32_t m_requestLength = 0;
  char m_header[kHeaderCapacity];
  uint32_t m_headerCount = 0;
  uint8_t m_body[kHeaderCapacity];
  uint32_t m_bodyCount = 0;
  uint32_t m_bodyIndex = 0;

  // Pending requests in order; the one being sent, the one whose header is awaited, and the
  // one whose body arrives, each at most one.
  Slot m_pending[kConnectionSlots];
  uint32_t m_pendingCount = 0;
  Slot m_sending{};
  Slot m_inFlight{};
  Slot m_receiving{};

  char m_lastModified[kResponseValueCapacity] = {};
  char m_etag[kResponseValueCapacity] = {};
  char m_server[kResponseValueCapacity] = {};
  uint64_t m_totalSize = 0;
  bool m_sizeKnown = true;
  uint32_t m_redirects = 0;
  uint32_t m_responses = 0;
  bool m_tooManyRedirects = false;
  int32_t m_error = 0;
  VexaOS::CVexaTime m_idle;
  uint32_t m_idleTimeoutMs = kDefaultIdleTimeoutMs;
  uint32_t m_fruitlessResets = 0;
  bool m_progress = false;
};

}  // namespace VexaHttp
