// Streaming to clients: each offer's form through a job of the plug-in (one job per request,
// stopped and released as soon as the client goes), and each file's own bytes with ranges.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "tools/vexa-serve/HttpFront.h"
#include "tools/vexa-serve/ServerContext.h"
#include "tools/vexa-serve/StreamRanges.h"

class StreamService : private NS::IJobListener {
 public:
  // The plug-in runs at most this many jobs at once; a request beyond them is answered 503
  // at once instead of waiting in CreateJob for a place.
  static constexpr size_t kJobPlaces = 3;

  explicit StreamService(ServerContext& context) : m_context(context) {}
  StreamService(const StreamService&) = delete;
  StreamService& operator=(const StreamService&) = delete;
  ~StreamService() override { StopAll(); }

  // Routes ServeUrls::kMedia and ServeUrls::kStream.
  void Register(HttpFront& front);
  // Stops every running job, so that no connection thread stays blocked in a read; later
  // stream requests are refused.
  void StopAll();

 private:
  struct Session;

  MHD_Result ServeOriginal(const HttpExchange& exchange);
  MHD_Result ServeOffer(const HttpExchange& exchange);
  // The response that relays a new job of the plug-in, started at the time asked; null, with
  // the status to answer instead, when no job could be made or started.
  MHD_Response* OpenStream(const MediaEntry& item, const PluginOffer& offer, const TimeSeek& seek,
                           unsigned* refusal);
  void AddOfferHeaders(const HttpExchange& exchange, MHD_Response* response,
                       const MediaEntry& item, const PluginOffer& offer, const TimeSeek& seek,
                       int64_t durationMs) const;
  // The subtitle's URL, at the address this client reached.
  void AddCaptionHeader(const HttpExchange& exchange, MHD_Response* response,
                        const MediaEntry& item) const;

  bool TakePlace();
  void Admit(Session* session);
  void EndSession(Session* session);
  ssize_t Relay(Session& session, char* buffer, size_t capacity);

  static ssize_t ReadStream(void* session, uint64_t position, char* buffer, size_t capacity);
  static ssize_t ReadNothing(void*, uint64_t, char*, size_t);
  static void FreeStream(void* session);
  void OnJobEvent(NS::ITranscoderJob* job, int32_t event, int32_t, int32_t) override;

  ServerContext& m_context;
  std::mutex m_lock;                 // guards the two below; never held across a job's call
  std::vector<Session*> m_sessions;  // each holds one of the plug-in's job places
  size_t m_starting = 0;             // places taken by requests still in CreateJob
  std::atomic<bool> m_stopping{false};
};
