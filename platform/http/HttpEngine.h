// An HTTP/1.0 and 1.1 client that reads one resource by byte ranges into a cache of
// fixed-size blocks. It runs on its caller's thread: every read, seek or wait pumps the
// engine, which advances each connection by non-blocking socket calls. All its memory comes
// from the arena given at creation, once; nothing is allocated while streaming.
//
// Results are the UriResult codes, plus the failure codes a response can carry
// (kHttpGatewayTimeout and the others below) when the engine failed on one.
#pragma once

#include <cstdint>

#include "platform/files/UriResult.h"

namespace VexaOS {
struct MemoryArena;
}

namespace VexaHttp {

// Failure codes taken from a response's status (a failed connection carries one).
enum HttpFailure : int32_t {
  kHttpGatewayTimeout = 5,    // 504
  kHttpBadRequest = 13,       // 400
  kHttpUnauthorized = 14,     // 401 (= kUriAuthRefused)
  kHttpForbidden = 15,        // 403
  kHttpNotFound = 16,         // 404
  kHttpVariantNegotiates = 17,  // 506
  kHttpTooManyRedirects = 18,   // the 20th redirect in a row
};

// Nine 32-bit words; HttpSettingsDefaults fills the defaults.
struct HttpSettings {
  uint32_t forwardOnly;      // 1: fetched once from the start, no Range; no seeking back
  uint32_t readAheadWindow;  // bytes requested ahead of the read position; 0: none
  uint32_t prefetchSlots;    // pool of range requests (256)
  uint32_t connections;      // HttpConnection objects (1)
  uint32_t blockCount;       // cache blocks (32), non-zero
  uint32_t blockSize;        // bytes per block (0x10000), a power of two
  const char* referrer;      // each may be null
  const char* userAgent;     // null: "Vexa Agent"
  const char* cookies;
};

void HttpSettingsDefaults(HttpSettings* settings);

struct HttpEngine;

// Null when the URL is not "http://...", the settings are unusable or the arena is too small
// (what was made is given back).
HttpEngine* HttpEngineCreate(const char* url, VexaOS::MemoryArena* arena,
                             const HttpSettings* settings);
// Closes every socket and gives the memory back to the arena.
void HttpEngineDestroy(HttpEngine* engine);

int32_t HttpEngineRead(HttpEngine* engine, void* buffer, uint32_t* count, bool blocking);
int32_t HttpEngineSeek(HttpEngine* engine, VexaFiles::SeekOrigin origin, uint64_t offset,
                       bool blocking);
int32_t HttpEngineTell(HttpEngine* engine, uint64_t* position);
// True when the size is known.
bool HttpEngineSize(HttpEngine* engine, uint64_t* size);
bool HttpEngineIsForwardOnly(HttpEngine* engine);
int32_t HttpEnginePrefetch(HttpEngine* engine, uint64_t offset, uint64_t length);
int32_t HttpEngineCancelPrefetch(HttpEngine* engine);
// Moves `offset` past the bytes cached from it on and shrinks `length` by as much.
int32_t HttpEngineMissingRange(HttpEngine* engine, uint64_t* offset, uint64_t* length);
// Safe from any thread, also while another thread is blocked in the engine: the blocked call
// answers kUriAborted promptly. Resume clears the mark.
void HttpEngineAbort(HttpEngine* engine);
void HttpEngineResume(HttpEngine* engine);
// Pumps until the first response told the size: 0, kUriAborted, kUriAuthRefused, or the
// failing connection's code.
int32_t HttpEngineWaitConnected(HttpEngine* engine);
// Pumps until the block holding the read position is cached (what an open waits for): the
// same answers.
int32_t HttpEngineWaitForPosition(HttpEngine* engine);
// Copied out of the first connection: kUriFailed when absent or longer than `capacity` - 1.
int32_t HttpEngineServerName(HttpEngine* engine, char* buffer, uint32_t capacity);
int32_t HttpEngineCurrentUrl(HttpEngine* engine, char* buffer, uint32_t capacity);

// How long a connection may go without progress before it is reset (or, while connecting,
// failed): 15000 ms unless set. After three resets in a row without progress the engine gives
// up and its calls answer kUriAborted.
void HttpEngineSetIdleTimeout(HttpEngine* engine, uint32_t milliseconds);

}  // namespace VexaHttp
