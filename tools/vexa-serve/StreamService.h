// Streaming to clients: each offer's form through a job of the plug-in (one job per request,
// stopped and released as soon as the client goes), and each file's own bytes with ranges.
#pragma once

#include "tools/vexa-serve/HttpFront.h"
#include "tools/vexa-serve/ServerContext.h"

class StreamService {
 public:
  explicit StreamService(ServerContext& context) : m_context(context) {}
  StreamService(const StreamService&) = delete;
  StreamService& operator=(const StreamService&) = delete;
  ~StreamService() { StopAll(); }

  // Routes ServeUrls::kMedia and ServeUrls::kStream.
  void Register(HttpFront& front);
  // Stops every running job, so that no connection thread stays blocked in a read.
  void StopAll();

 private:
  ServerContext& m_context;
};
