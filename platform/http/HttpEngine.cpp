#include "platform/http/HttpEngine.h"

namespace VexaHttp {

using VexaFiles::kUriNotImplemented;
using VexaFiles::kUriFailed;

void HttpSettingsDefaults(HttpSettings* settings) {
  *settings = HttpSettings{0, 0, 256, 1, 32, 0x10000, nullptr, nullptr, nullptr};
}
HttpEngine* HttpEngineCreate(const char*, VexaOS::MemoryArena*, const HttpSettings*) { return nullptr; }
void HttpEngineDestroy(HttpEngine*) {}
int32_t HttpEngineRead(HttpEngine*, void*, uint32_t*, bool) { return kUriNotImplemented; }
int32_t HttpEngineSeek(HttpEngine*, VexaFiles::SeekOrigin, uint64_t, bool) { return kUriNotImplemented; }
int32_t HttpEngineTell(HttpEngine*, uint64_t*) { return kUriNotImplemented; }
bool HttpEngineSize(HttpEngine*, uint64_t*) { return false; }
bool HttpEngineIsForwardOnly(HttpEngine*) { return false; }
int32_t HttpEnginePrefetch(HttpEngine*, uint64_t, uint64_t) { return kUriNotImplemented; }
int32_t HttpEngineCancelPrefetch(HttpEngine*) { return kUriNotImplemented; }
int32_t HttpEngineMissingRange(HttpEngine*, uint64_t*, uint64_t*) { return kUriNotImplemented; }
void HttpEngineAbort(HttpEngine*) {}
void HttpEngineResume(HttpEngine*) {}
int32_t HttpEngineWaitConnected(HttpEngine*) { return kUriNotImplemented; }
int32_t HttpEngineWaitForPosition(HttpEngine*) { return kUriNotImplemented; }
int32_t HttpEngineServerName(HttpEngine*, char*, uint32_t) { return kUriFailed; }
int32_t HttpEngineCurrentUrl(HttpEngine*, char*, uint32_t) { return kUriFailed; }

}  // namespace VexaHttp
