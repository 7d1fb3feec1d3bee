#include "platform/http/HttpConnection.h"

#include <algorithm>
#include <cstring>

#include "platform/files/UriResult.h"
#include "platform/http/HttpEngine.h"
#include "platform/http/HttpRedirect.h"
#include "platform/http/HttpRequest.h"
#include "platform/http/HttpResponse.h"

namespace VexaHttp {
namespace {

using VexaFiles::kUriAborted;
using VexaFiles::kUriFailed;
using VexaFiles::kUriOk;
using VexaFiles::kUriTooSmall;

const char* KeptIfShorter(const char* text, uint32_t maxLength) {
  return text != nullptr && std::strlen(text) <= maxLength ? text : nullptr;
}

bool IsWhole(const RangeRequest& range) { return range.offset == 0 && range.length == 0; }

bool RangeCovers(const RangeRequest& range, uint64_t offset) {
  if (IsWhole(range)) return true;
  return offset >= range.offset && offset - range.offset < range.length;
}

// Keeps a response value for later (the header buffer is reused); one that does not fit is
// kept as absent.
void KeepValue(const TextSpan& value, char (&out)[kResponseValueCapacity]) {
  out[0] = '\0';
  if (value.text == nullptr || value.length >= kResponseValueCapacity) return;
  std::memcpy(out, value.text, value.length);
  out[value.length] = '\0';
}

TextSpan SpanOf(const char* text) {
  if (text[0] == '\0') return {nullptr, 0};
  return {text, static_cast<uint32_t>(std::strlen(text))};
}

VexaOS::CVexaTime StartedWatch() {
  VexaOS::CVexaTime watch;
  watch.Start();
  return watch;
}

}  // namespace

HttpConnection::HttpConnection(const char* url, const char* referrer, const char* userAgent,
                               const char* cookies)
    : m_referrer(referrer),
      m_userAgent(KeptIfShorter(userAgent, kMaxUserAgentLength)),
      m_cookies(KeptIfShorter(cookies, kMaxCookiesLength)),
      m_idle(StartedWatch()) {
  m_url[0] = '\0';
  bool urlFits = url != nullptr && std::strlen(url) < kHttpUrlCapacity;
  if (urlFits) std::strcpy(m_url, url);
  if (!urlFits || (referrer != nullptr && std::strlen(referrer) > kMaxReferrerLength)) {
    Fail(kUriFailed);
  }
}

uint32_t HttpConnection::RequestCount() const {
  return m_pendingCount + m_sending.used + m_inFlight.used + m_receiving.used;
}

int32_t HttpConnection::QueueRange(uint64_t offset, uint64_t length) {
  if (RequestCount() >= kConnectionSlots) return kQueueFull;
  m_pending[m_pendingCount++] = Slot{{offset, length}, true};
  return kQueueAccepted;
}

bool HttpConnection::Covers(uint64_t offset) const {
  for (uint32_t i = 0; i < m_pendingCount; ++i) {
    if (RangeCovers(m_pending[i].range, offset)) return true;
  }
  for (const Slot* slot : {&m_sending, &m_inFlight, &m_receiving}) {
    if (slot->used && RangeCovers(slot->range, offset)) return true;
  }
  return false;
}

ConnectionStatus HttpConnection::Status() const {
  ConnectionStatus status{kStatusIdle, SpanOf(m_lastModified), SpanOf(m_etag), m_totalSize,
                          m_sizeKnown ? 1u : 0u, m_error};
  if (m_state == kConnectionFailed) {
    status.kind = m_redirects >= kMaxRedirects ? kStatusTooManyRedirects : kStatusFailed;
  } else if (m_state == kConnectionAuthRequired) {
    status.kind = kStatusAuthRequired;
  } else if (HasRequests()) {
    status.kind = kStatusBusy;
  }
  return status;
}

void HttpConnection::Step() {
  switch (m_state) {
    case kConnectionIdle:
      if (HasRequests()) StartConnect();
      break;
    case kConnectionConnecting:
      StepConnecting();
      break;
    case kConnectionConnected:
    case kConnectionClosing:
      StepConnected();
      break;
    case kConnectionAuthRequired:
    case kConnectionFailed:
      break;
  }
}

void HttpConnection::StartConnect() {
  m_state = kConnectionConnecting;
  m_socket.Close();
  HttpUrlParts parts;
  char host[kHttpMaxHostLength + 1];
  if (ParseHttpUrl(m_url, &parts) != kUriOk || !CopyHostForResolver(parts.host, host, sizeof host)) {
    Fail(kUriFailed);
    return;
  }
  m_idle = StartedWatch();
  int32_t result = m_socket.Connect(host, parts.port);
  if (result == kSocketFailed) {
    Fail(kUriFailed);
  } else if (result == kSocketDone) {
    m_state = kConnectionConnected;
    m_phase = kPhaseReady;
    StepConnected();
  }
}

void HttpConnection::StepConnecting() {
  if (IdleTooLong()) {
    Fail(kUriAborted);
    return;
  }
  int32_t result = m_socket.WaitWritable(0);
  if (result == kSocketWouldBlock) return;
  if (result == kSocketFailed) {
    Fail(kUriFailed);  // refused or unreachable: retrying would not help
    return;
  }
  m_idle = StartedWatch();
  m_state = kConnectionConnected;
  m_phase = kPhaseReady;
  StepConnected();
}

void HttpConnection::StepConnected() {
  if (IdleTooLong()) {
    Reset();
    return;
  }
  if (m_phase == kPhaseReceivingBody) {
    if (m_receiving.range.length == 0) FinishBody();
    if (m_state == kConnectionClosing) {
      // The server closes after this body: nothing is pipelined, a new socket takes the rest.
      if (m_receiving.used) return;
      m_socket.Close();
      m_state = kConnectionIdle;
      m_phase = kPhaseReady;
      if (HasRequests()) StartConnect();
      return;
    }
    m_phase = kPhaseReady;
  }
  if (m_phase == kPhaseReady) {
    if (m_pendingCount == 0) {
      if (m_receiving.used) {
        m_phase = kPhaseReceivingBody;
      } else {
        m_idle = StartedWatch();  // an idle kept-alive socket is not stalled
      }
      return;
    }
    m_sending = m_pending[0];
    std::memmove(m_pending, m_pending + 1, --m_pendingCount * sizeof(Slot));
    HttpRequestDescriptor descriptor{m_url, m_referrer, m_userAgent, m_cookies,
                                     m_sending.range.offset, m_sending.range.length};
    int32_t built = BuildHttpRequest(descriptor, m_request, sizeof m_request, &m_requestLength);
    if (built != kUriOk) {
      Fail(built);
      return;
    }
    m_requestSent = 0;
    m_phase = m_receiving.used ? kPhaseSendingNext : kPhaseSendingFirst;
  }
  if (m_phase == kPhaseSendingFirst || m_phase == kPhaseSendingNext) {
    if (!SendRequest()) return;
    if (m_phase == kPhaseSendingNext) {
      if (m_receiving.used && m_receiving.range.length == 0) FinishBody();
      if (m_receiving.used) return;
    }
    m_inFlight = m_sending;
    m_sending.used = false;
    m_phase = kPhaseReceivingHeader;
  }
  if (m_phase == kPhaseReceivingHeader) ReceiveHeader();
}

// True once the whole request is out; false while the socket would block or after a reset.
bool HttpConnection::SendRequest() {
  while (m_requestSent < m_requestLength) {
    uint32_t count = m_requestLength - m_requestSent;
    int32_t result = m_socket.Send(m_request + m_requestSent, &count);
    if (result == kSocketWouldBlock) return false;
    if (result == kSocketFailed) {
      Reset();
      return false;
    }
    m_requestSent += count;
  }
  return true;
}

void HttpConnection::ReceiveHeader() {
  for (;;) {
    HttpResponse response;
    int32_t answer = m_headerCount == 0 ? static_cast<int32_t>(kResponseIncomplete)
                                        : ParseHttpResponse(m_header, m_headerCount, &response);
    if (answer == kResponseIncomplete) {
      if (m_headerCount >= kHeaderCapacity) {
        Fail(kUriTooSmall);  // a header that never ends within the buffer
        return;
      }
      uint32_t count = kHeaderCapacity - m_headerCount;
      int32_t result = m_socket.Receive(m_header + m_headerCount, &count);
      if (result == kSocketWouldBlock) return;
      if (result == kSocketFailed || count == 0) {
        Reset();
        return;
      }
      m_headerCount += count;
      m_idle = StartedWatch();
      continue;
    }
    if (answer == kResponseRedirect) {
      FollowRedirect(response.location);
    } else if (answer == kHttpUnauthorized) {
      m_socket.Close();
      m_state = kConnectionAuthRequired;
    } else if (answer == kResponseSuccess) {
      if (CheckAgainstRequest(m_inFlight.range, response)) {
        KeepValue(response.lastModified, m_lastModified);
        KeepValue(response.etag, m_etag);
        KeepValue(response.server, m_server);
        if (IsWhole(m_inFlight.range)) {
          m_sizeKnown = response.hasTotalSize;
          m_inFlight.range.length = response.hasTotalSize ? response.totalSize : kUnboundedLength;
        } else {
          m_inFlight.range.length = response.rangeLength;
        }
        if (response.hasTotalSize) m_totalSize = response.totalSize;
        if (response.close) m_state = kConnectionClosing;
        AcceptSuccess(response.headerLength);
      }
    } else {
      Fail(answer);
    }
    return;
  }
}

// A whole-resource request takes no Content-Range; a range request takes its own range, or a
// shorter one that ends at the end of the resource.
bool HttpConnection::CheckAgainstRequest(const RangeRequest& asked, const HttpResponse& response) {
  bool matches;
  if (IsWhole(asked)) {
    matches = !response.hasContentRange;
  } else {
    matches = response.rangeOffset == asked.offset &&
              (response.rangeLength == asked.length ||
               (response.hasTotalSize && response.rangeLength < asked.length &&
                response.rangeOffset + response.rangeLength == response.totalSize));
  }
  if (!matches) Fail(kUriFailed);
  return matches;
}

void HttpConnection::AcceptSuccess(uint32_t headerLength) {
  m_bodyCount = m_headerCount - headerLength;
  std::memcpy(m_body, m_header + headerLength, m_bodyCount);
  m_bodyIndex = 0;
  m_headerCount = 0;
  m_receiving = m_inFlight;
  m_inFlight.used = false;
  m_phase = kPhaseReceivingBody;
  ++m_responses;
  MarkProgress();
}

void HttpConnection::FollowRedirect(const TextSpan& location) {
  if (location.text == nullptr || location.length >= kHttpUrlCapacity) {
    Fail(location.text == nullptr ? kUriFailed : kUriTooSmall);
    return;
  }
  char next[kHttpUrlCapacity];
  int32_t resolved = ResolveLocation(m_url, location, next, sizeof next);
  if (resolved != kUriOk) {
    Fail(resolved);
    return;
  }
  if (!EscapeLocation(next, sizeof next)) {
    Fail(kUriTooSmall);
    return;
  }
  std::strcpy(m_url, next);
  uint32_t redirects = m_redirects + 1;
  m_progress = true;  // a redirect is bounded by its own count, not by the stall rule
  Reset();
  m_redirects = redirects;
  if (m_redirects >= kMaxRedirects) Fail(kHttpTooManyRedirects);
}

// The arriving request is complete; bytes read past it begin the next response header.
void HttpConnection::FinishBody() {
  m_receiving.used = false;
  uint32_t leftover = m_bodyCount - m_bodyIndex;
  std::memcpy(m_header, m_body + m_bodyIndex, leftover);
  m_headerCount = leftover;
  m_bodyCount = m_bodyIndex = 0;
}

bool HttpConnection::ArrivingRange(RangeRequest* range) const {
  if (!m_receiving.used || (m_phase != kPhaseReceivingBody && m_phase != kPhaseSendingNext)) return false;
  *range = m_receiving.range;
  return true;
}

void HttpConnection::ReceiveBody(uint8_t* out, uint32_t capacity, uint32_t* count) {
  *count = 0;
  RangeRequest range;
  if (!ArrivingRange(&range) || range.length == 0) return;
  uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(capacity, range.length));
  uint32_t moved = wanted;
  if (m_bodyIndex < m_bodyCount) {
    moved = std::min(wanted, m_bodyCount - m_bodyIndex);
    std::memcpy(out, m_body + m_bodyIndex, moved);
    m_bodyIndex += moved;
  } else {
    int32_t result = m_socket.Receive(out, &moved);
    if (result == kSocketWouldBlock) return;
    if (result == kSocketFailed) {
      Reset();
      return;
    }
    if (moved == 0) {
      PeerClosedBody();
      return;
    }
  }
  m_receiving.range.offset += moved;
  if (m_receiving.range.length != kUnboundedLength) m_receiving.range.length -= moved;
  m_idle = StartedWatch();
  MarkProgress();
  *count = moved;
}

// A body of unknown length ends when the server closes; any other body was cut short.
void HttpConnection::PeerClosedBody() {
  if (m_receiving.range.length != kUnboundedLength) {
    Reset();
    return;
  }
  m_totalSize = m_receiving.range.offset;
  m_sizeKnown = true;
  m_receiving.used = false;
  m_socket.Close();
  m_bodyCount = m_bodyIndex = m_headerCount = 0;
  m_state = kConnectionIdle;
  m_phase = kPhaseReady;
  if (m_sending.used) PushFront(m_sending);
  if (m_inFlight.used) PushFront(m_inFlight);
  m_sending.used = m_inFlight.used = false;
}

void HttpConnection::PushFront(const Slot& slot) {
  std::memmove(m_pending + 1, m_pending, m_pendingCount * sizeof(Slot));
  m_pending[0] = slot;
  ++m_pendingCount;
}

void HttpConnection::TouchIdle() {
  if (m_state == kConnectionConnected || m_state == kConnectionClosing) m_idle = StartedWatch();
}

void HttpConnection::MarkProgress() {
  m_progress = true;
  m_fruitlessResets = 0;
}

void HttpConnection::Reset() {
  m_socket.Close();
  // A body of unknown length cannot be asked for again from the middle.
  if (m_receiving.used && m_receiving.range.length == kUnboundedLength) {
    if (m_receiving.range.offset != 0) {
      Fail(kUriFailed);
      return;
    }
    m_receiving.range = {0, 0};
  }
  for (Slot* slot : {&m_sending, &m_inFlight, &m_receiving}) {
    if (slot->used) PushFront(*slot);
    slot->used = false;
  }
  m_requestSent = m_requestLength = m_headerCount = m_bodyCount = m_bodyIndex = 0;
  m_state = kConnectionIdle;
  m_phase = kPhaseReady;
  m_redirects = 0;
  m_idle = StartedWatch();
  if (!m_progress && ++m_fruitlessResets >= kMaxFruitlessResets) Fail(kUriAborted);
  m_progress = false;
}

void HttpConnection::Fail(int32_t error) {
  m_socket.Close();
  m_state = kConnectionFailed;
  m_error = error;
}

}  // namespace VexaHttp
