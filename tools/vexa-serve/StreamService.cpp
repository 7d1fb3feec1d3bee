#include "tools/vexa-serve/StreamService.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/files/TextConvert.h"
#include "platform/os/FileDescriptor.h"
#include "tools/vexa-serve/MediaLibrary.h"
#include "tools/vexa-serve/StreamRanges.h"

namespace {

constexpr char kRetryAfterSeconds[] = "5";
constexpr size_t kStreamBlock = 64 * 1024;
// A job that hands out no data is asked again after a short pause; a stream that stays empty
// this long has stalled and is ended, so its client and its job place are let go.
constexpr auto kEmptyReadPause = std::chrono::milliseconds(10);
constexpr auto kStallLimit = std::chrono::seconds(10);

constexpr char kTimeSeekHeader[] = "TimeSeekRange.dlna.org";
constexpr char kTransferModeHeader[] = "transferMode.dlna.org";
constexpr char kContentFeaturesHeader[] = "contentFeatures.dlna.org";
constexpr char kCaptionHeader[] = "CaptionInfo.sec";
constexpr char kStreamingMode[] = "Streaming";
constexpr char kAcceptRangesHeader[] = "Accept-Ranges";
constexpr char kByteUnit[] = "bytes";
// The original file: byte seeking, no conversion.
constexpr char kOriginalFeatures[] = "DLNA.ORG_OP=01;DLNA.ORG_CI=0";
constexpr char kOctetStream[] = "application/octet-stream";
constexpr int kContentFormatField = 2;
constexpr int kAdditionalInfoField = 3;

struct TypeByExtension {
  const char* extension;
  const char* contentType;
};
constexpr TypeByExtension kContentTypes[] = {
    {".mkv", "video/x-matroska"},
    {".srt", "text/srt"},
};

bool EndsWithNoCase(const std::string& text, const char* tail) {
  size_t length = std::strlen(tail);
  return text.size() >= length && strncasecmp(text.c_str() + text.size() - length, tail, length) == 0;
}

const char* ContentTypeOf(const std::string& path) {
  for (const TypeByExtension& type : kContentTypes)
    if (EndsWithNoCase(path, type.extension)) return type.contentType;
  return kOctetStream;
}

MHD_Result NotFound(const HttpExchange& exchange) {
  return exchange.RespondText(MHD_HTTP_NOT_FOUND, "not found\n");
}

MHD_Result Busy(const HttpExchange& exchange) {
  MHD_Response* busy = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
  if (!busy) return MHD_NO;
  MHD_add_response_header(busy, MHD_HTTP_HEADER_RETRY_AFTER, kRetryAfterSeconds);
  return exchange.Respond(MHD_HTTP_SERVICE_UNAVAILABLE, busy);
}

// "/stream/<index>/<id>" split into the offer's index and the item's id.
bool SplitStreamPath(const std::string& path, uint32_t* index, std::string* id) {
  std::string rest = path.substr(std::strlen(ServeUrls::kStream));
  size_t slash = rest.find('/');
  if (slash == 0 || slash == std::string::npos || slash > 9) return false;
  uint32_t value = 0;
  for (size_t i = 0; i < slash; ++i) {
    if (rest[i] < '0' || rest[i] > '9') return false;
    value = value * 10 + static_cast<uint32_t>(rest[i] - '0');
  }
  *index = value;
  *id = rest.substr(slash + 1);
  return true;
}

// False when the seek starts past the offer's end; an end past it means "to the end".
bool FitTimeSeek(TimeSeek* seek, int64_t durationMs) {
  if (seek->kind != TimeSeekKind::kRange || durationMs < 0) return true;
  if (seek->endMs > durationMs) seek->endMs = -1;
  return seek->startMs < durationMs;
}

}  // namespace

// One client's stream: the job it holds until the response is freed.
struct StreamService::Session {
  StreamService* service;
  NS::ITranscoderJob* job;
  std::atomic<bool> failed{false};  // the job reported an event: its stream is broken
};

void StreamService::Register(HttpFront& front) {
  front.Route("GET", ServeUrls::kMedia,
              [this](const HttpExchange& exchange) { return ServeOriginal(exchange); });
  front.Route("GET", ServeUrls::kStream,
              [this](const HttpExchange& exchange) { return ServeOffer(exchange); });
}

void StreamService::StopAll() {
  std::vector<NS::ITranscoderJob*> running;
  {
    std::lock_guard held(m_lock);
    m_stopping = true;
    // Each job is held here too, so a client that leaves meanwhile cannot release it under us.
    for (Session* session : m_sessions) {
      session->job->AddRef();
      running.push_back(session->job);
    }
  }
  for (NS::ITranscoderJob* job : running) {
    job->Stop();
    job->Release();
  }
}

MHD_Result StreamService::ServeOriginal(const HttpExchange& exchange) {
  MediaEntry file;
  std::string id = exchange.path.substr(std::strlen(ServeUrls::kMedia));
  if (m_context.library.FindFile(id, &file) != LookupResult::kFound) return NotFound(exchange);
  VexaOS::CFileDescriptor descriptor(::open(file.path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (!descriptor.IsOpen() || ::fstat(descriptor.Get(), &info) != 0 || !S_ISREG(info.st_mode))
    return NotFound(exchange);
  int64_t size = info.st_size;
  ByteRange range = ParseByteRange(exchange.Header(MHD_HTTP_HEADER_RANGE), size);
  MHD_Response* response = nullptr;
  if (range.kind == RangeKind::kUnsatisfiable) {
    response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
  } else {
    // The response owns the descriptor from here and closes it when it is freed.
    response = MHD_create_response_from_fd_at_offset64(
        static_cast<uint64_t>(range.kind == RangeKind::kPart ? range.Length() : size),
        descriptor.Get(), range.first);
    if (response) descriptor.Release();
  }
  if (!response) return MHD_NO;
  MHD_add_response_header(response, kAcceptRangesHeader, kByteUnit);
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, ContentTypeOf(file.path));
  if (IsMatroskaName(file.path)) {
    MHD_add_response_header(response, kTransferModeHeader, kStreamingMode);
    MHD_add_response_header(response, kContentFeaturesHeader, kOriginalFeatures);
    AddCaptionHeader(exchange, response, file);
  }
  if (range.kind == RangeKind::kWhole) return exchange.Respond(MHD_HTTP_OK, response);
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_RANGE, ContentRange(range, size).c_str());
  return exchange.Respond(range.kind == RangeKind::kPart ? MHD_HTTP_PARTIAL_CONTENT
                                                         : MHD_HTTP_RANGE_NOT_SATISFIABLE,
                          response);
}

MHD_Result StreamService::ServeOffer(const HttpExchange& exchange) {
  uint32_t index = 0;
  std::string id;
  MediaEntry item;
  if (!SplitStreamPath(exchange.path, &index, &id) ||
      m_context.library.Find(id, &item) != LookupResult::kFound || item.container)
    return NotFound(exchange);
  // The offer must be one this very client is made: its User-Agent and address decide.
  std::vector<PluginOffer> offers;
  if (OffersForClient(m_context, item, exchange.Header(MHD_HTTP_HEADER_USER_AGENT),
                      exchange.clientAddress, &offers) != NS::kTranscoderOk)
    return NotFound(exchange);
  auto offer = std::find_if(offers.begin(), offers.end(),
                            [index](const PluginOffer& o) { return o.index == index; });
  if (offer == offers.end()) return NotFound(exchange);

  TimeSeek seek = ParseTimeSeek(exchange.Header(kTimeSeekHeader));
  int64_t durationMs = ParseOfferDuration(offer->duration);
  if (seek.kind == TimeSeekKind::kMalformed)
    return exchange.RespondText(MHD_HTTP_BAD_REQUEST, "bad time-seek range\n");
  if (!FitTimeSeek(&seek, durationMs))
    return exchange.RespondText(MHD_HTTP_RANGE_NOT_SATISFIABLE, "past the end\n");

  MHD_Response* response = nullptr;
  if (exchange.IsHead()) {
    // Everything a HEAD answers comes from the offer: no job is made for it.
    response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kStreamBlock,
                                                 &StreamService::ReadNothing, nullptr, nullptr);
  } else {
    unsigned refusal = 0;
    response = OpenStream(item, *offer, seek, &refusal);
    if (refusal == MHD_HTTP_SERVICE_UNAVAILABLE) return Busy(exchange);
    if (refusal != 0) return exchange.RespondText(refusal, "the stream could not start\n");
  }
  if (!response) return MHD_NO;
  AddOfferHeaders(exchange, response, item, *offer, seek, durationMs);
  // A failed queue frees the response, and with it the session.
  return exchange.Respond(MHD_HTTP_OK, response);
}

MHD_Response* StreamService::OpenStream(const MediaEntry& item, const PluginOffer& offer,
                                        const TimeSeek& seek, unsigned* refusal) {
  *refusal = MHD_HTTP_SERVICE_UNAVAILABLE;
  if (!TakePlace()) return nullptr;
  std::u16string path;
  NS::ITranscoderJob* job = nullptr;
  int32_t created = VexaFiles::Utf8ToUtf16String(item.path, path)
                        ? m_context.plugin.Upnp()->CreateJob(path.c_str(), nullptr, offer.index,
                                                             this, &job)
                        : NS::kTranscoderOpenFailed;
  Session* session = created == NS::kTranscoderOk && job ? new Session{this, job} : nullptr;
  Admit(session);
  if (created == NS::kTranscoderNoPlace) return nullptr;
  // The source was offered a moment ago, so a job that cannot open or start it is the server's
  // fault rather than a missing file.
  *refusal = MHD_HTTP_INTERNAL_SERVER_ERROR;
  if (!session) return nullptr;
  MHD_Response* response = nullptr;
  if (job->Start(seek.kind == TimeSeekKind::kRange ? seek.startMs : 0, seek.endMs) ==
      NS::kTranscoderOk)
    response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kStreamBlock,
                                                 &StreamService::ReadStream, session,
                                                 &StreamService::FreeStream);
  if (!response) {
    EndSession(session);
    return nullptr;
  }
  *refusal = 0;
  return response;
}

void StreamService::AddOfferHeaders(const HttpExchange& exchange, MHD_Response* response,
                                    const MediaEntry& item, const PluginOffer& offer,
                                    const TimeSeek& seek, int64_t durationMs) const {
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                          ProtocolInfoField(offer.protocolInfo, kContentFormatField).c_str());
  MHD_add_response_header(response, kTransferModeHeader, kStreamingMode);
  MHD_add_response_header(response, kContentFeaturesHeader,
                          ProtocolInfoField(offer.protocolInfo, kAdditionalInfoField).c_str());
  if (seek.kind == TimeSeekKind::kRange)
    MHD_add_response_header(response, kTimeSeekHeader, TimeSeekAnswer(seek, durationMs).c_str());
  AddCaptionHeader(exchange, response, item);
}

void StreamService::AddCaptionHeader(const HttpExchange& exchange, MHD_Response* response,
                                     const MediaEntry& item) const {
  if (!item.subtitleId.empty())
    MHD_add_response_header(response, kCaptionHeader,
                            (exchange.BaseUrl() + ServeUrls::Media(item.subtitleId)).c_str());
}

bool StreamService::TakePlace() {
  std::lock_guard held(m_lock);
  if (m_stopping || m_sessions.size() + m_starting >= kJobPlaces) return false;
  ++m_starting;
  return true;
}

// Turns the place taken by TakePlace into a running session, or gives it back (null).
void StreamService::Admit(Session* session) {
  std::lock_guard held(m_lock);
  --m_starting;
  if (session) m_sessions.push_back(session);
}

void StreamService::EndSession(Session* session) {
  {
    std::lock_guard held(m_lock);
    m_sessions.erase(std::remove(m_sessions.begin(), m_sessions.end(), session), m_sessions.end());
  }
  session->job->Stop();
  session->job->Release();
  delete session;
}

ssize_t StreamService::Relay(Session& session, char* buffer, size_t capacity) {
  auto stalledSince = std::chrono::steady_clock::now();
  uint32_t size = static_cast<uint32_t>(std::min(capacity, kStreamBlock));
  for (;;) {
    if (m_stopping) return MHD_CONTENT_READER_END_WITH_ERROR;
    uint32_t count = 0;
    bool more = session.job->Read(reinterpret_cast<uint8_t*>(buffer), size, &count);
    if (count > 0) return static_cast<ssize_t>(count);
    // A stream that broke ends without its last chunk, so the client sees it was cut short.
    if (session.failed) return MHD_CONTENT_READER_END_WITH_ERROR;
    if (!more) return MHD_CONTENT_READER_END_OF_STREAM;
    if (std::chrono::steady_clock::now() - stalledSince > kStallLimit)
      return MHD_CONTENT_READER_END_WITH_ERROR;
    std::this_thread::sleep_for(kEmptyReadPause);
  }
}

ssize_t StreamService::ReadStream(void* session, uint64_t, char* buffer, size_t capacity) {
  auto* own = static_cast<Session*>(session);
  return own->service->Relay(*own, buffer, capacity);
}

ssize_t StreamService::ReadNothing(void*, uint64_t, char*, size_t) {
  return MHD_CONTENT_READER_END_OF_STREAM;
}

// The response is freed when its stream has ended or its client has gone: the job goes back.
void StreamService::FreeStream(void* session) {
  auto* own = static_cast<Session*>(session);
  own->service->EndSession(own);
}

void StreamService::OnJobEvent(NS::ITranscoderJob* job, int32_t, int32_t, int32_t) {
  std::lock_guard held(m_lock);
  for (Session* session : m_sessions)
    if (session->job == job) session->failed = true;
}
