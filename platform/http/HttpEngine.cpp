#include "platform/http/HttpEngine.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "platform/http/BlockCache.h"
#include "platform/http/HttpConnection.h"
#include "platform/http/HttpSocket.h"
#include "platform/http/HttpUrl.h"
#include "platform/os/MemoryArena.h"
#include "platform/os/VexaTime.h"

namespace VexaHttp {

using namespace VexaFiles;

namespace {

constexpr uint64_t kPumpIntervalMs = 2;
constexpr uint32_t kCollectRounds = 4;
constexpr uint32_t kSlowSleepMs = 25;
constexpr uint32_t kFastSleepMs = 1;

char* CopyString(VexaOS::MemoryArena* arena, const char* text, bool* ok) {
  if (text == nullptr) return nullptr;
  size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(VexaOS::ArenaOrHeapAlloc(arena, size));
  if (copy == nullptr) {
    *ok = false;
    return nullptr;
  }
  std::memcpy(copy, text, size);
  return copy;
}

bool SettingsUsable(const HttpSettings& settings) {
  bool powerOfTwo = settings.blockSize != 0 && (settings.blockSize & (settings.blockSize - 1)) == 0;
  return powerOfTwo && settings.blockCount != 0 && settings.connections != 0 &&
         settings.prefetchSlots != 0;
}

int32_t CopyOut(const char* text, char* buffer, uint32_t capacity) {
  size_t length = text != nullptr ? std::strlen(text) : 0;
  if (length == 0 || buffer == nullptr || length + 1 > capacity) return kUriFailed;
  std::memcpy(buffer, text, length + 1);
  return kUriOk;
}

}  // namespace

struct HttpEngine {
  VexaOS::MemoryArena* arena;
  HttpSettings settings;
  char* url;
  char* referrer;
  char* userAgent;
  char* cookies;
  std::atomic<bool> aborted{false};
  bool authRefused = false;
  bool failed = false;
  int32_t failure = kUriOk;
  bool ready = false;
  bool sizeKnown = false;
  uint64_t size = 0;
  uint64_t position = 0;
  uint64_t readAheadEnd = 0;
  // Without a read-ahead window of the caller's, a reader found reading straight through gets
  // one of the engine's own (a quarter of the cache), so the next stretch is on its way while
  // this one is read instead of one block per round trip.
  uint64_t throughWindow = 0;
  uint64_t lastMissEnd = UINT64_MAX;  // where the range asked for the last missed position ends
  bool wholeQueued = false;
  BlockCache cache;
  RangeRequest* pool = nullptr;  // a ring of waiting requests
  uint32_t poolHead = 0;
  uint32_t poolCount = 0;
  HttpConnection** connections = nullptr;
  uint32_t connectionCount = 0;
  VexaOS::CVexaTime clock;
  uint64_t lastPump = 0;
  bool pumpedOnce = false;
};

namespace {

void FreeEngine(HttpEngine* engine) {
  VexaOS::MemoryArena* arena = engine->arena;
  if (engine->connections != nullptr) {
    for (uint32_t i = 0; i < engine->connectionCount; ++i) {
      engine->connections[i]->~HttpConnection();
      VexaOS::ArenaOrHeapFree(arena, engine->connections[i]);
    }
    VexaOS::ArenaOrHeapFree(arena, engine->connections);
  }
  engine->cache.Destroy();
  for (char* text : {engine->url, engine->referrer, engine->userAgent, engine->cookies}) {
    if (text != nullptr) VexaOS::ArenaOrHeapFree(arena, text);
  }
  if (engine->pool != nullptr) VexaOS::ArenaOrHeapFree(arena, engine->pool);
  engine->~HttpEngine();
  VexaOS::ArenaOrHeapFree(arena, engine);
}

bool MakeConnections(HttpEngine* engine) {
  uint32_t count = engine->settings.connections;
  void* table = VexaOS::ArenaOrHeapAlloc(engine->arena, count * sizeof(HttpConnection*));
  if (table == nullptr) return false;
  engine->connections = static_cast<HttpConnection**>(table);
  for (uint32_t i = 0; i < count; ++i) {
    void* memory = VexaOS::ArenaOrHeapAlloc(engine->arena, sizeof(HttpConnection));
    if (memory == nullptr) return false;
    engine->connections[i] =
        new (memory) HttpConnection(engine->url, engine->referrer, engine->userAgent, engine->cookies);
    engine->connectionCount = i + 1;
    if (engine->connections[i]->State() == kConnectionFailed) return false;
  }
  return true;
}

// ---- the request pool --------------------------------------------------------------------

bool PoolPush(HttpEngine* engine, RangeRequest range, bool urgent) {
  uint32_t capacity = engine->settings.prefetchSlots;
  if (engine->poolCount == capacity) return false;
  if (urgent) {
    engine->poolHead = (engine->poolHead + capacity - 1) % capacity;
    engine->pool[engine->poolHead] = range;
  } else {
    engine->pool[(engine->poolHead + engine->poolCount) % capacity] = range;
  }
  ++engine->poolCount;
  return true;
}

bool Outstanding(HttpEngine* engine, uint64_t offset) {
  for (uint32_t i = 0; i < engine->poolCount; ++i) {
    const RangeRequest& range = engine->pool[(engine->poolHead + i) % engine->settings.prefetchSlots];
    if (offset >= range.offset && offset - range.offset < range.length) return true;
  }
  for (uint32_t i = 0; i < engine->connectionCount; ++i) {
    if (engine->connections[i]->Covers(offset)) return true;
  }
  return false;
}

bool AnythingOutstanding(HttpEngine* engine) {
  if (engine->poolCount != 0) return true;
  for (uint32_t i = 0; i < engine->connectionCount; ++i) {
    if (engine->connections[i]->HasRequests()) return true;
  }
  return false;
}

// Hands waiting requests to the connection with the most free slots.
void Dispatch(HttpEngine* engine) {
  while (engine->poolCount != 0) {
    HttpConnection* best = nullptr;
    for (uint32_t i = 0; i < engine->connectionCount; ++i) {
      HttpConnection* connection = engine->connections[i];
      ConnectionState state = connection->State();
      if (state == kConnectionFailed || state == kConnectionAuthRequired) continue;
      if (best == nullptr || connection->FreeSlots() > best->FreeSlots()) best = connection;
    }
    if (best == nullptr || best->FreeSlots() == 0) return;
    const RangeRequest& range = engine->pool[engine->poolHead];
    best->QueueRange(range.offset, range.length);
    engine->poolHead = (engine->poolHead + 1) % engine->settings.prefetchSlots;
    --engine->poolCount;
  }
}

// ---- pumping -----------------------------------------------------------------------------

uint64_t ClipToSize(HttpEngine* engine, uint64_t offset, uint64_t length) {
  if (!engine->sizeKnown) return length;
  if (offset >= engine->size) return 0;
  return std::min(length, engine->size - offset);
}

void Schedule(HttpEngine* engine) {
  if (engine->settings.forwardOnly != 0) {
    if (!engine->wholeQueued) engine->wholeQueued = PoolPush(engine, {0, 0}, false);
    return;
  }
  if (!engine->ready) {
    if (!AnythingOutstanding(engine)) PoolPush(engine, {0, engine->cache.BlockSize()}, false);
    return;
  }
  uint64_t window = engine->settings.readAheadWindow != 0 ? engine->settings.readAheadWindow
                                                          : engine->throughWindow;
  if (window == 0 || engine->readAheadEnd >= engine->position + window / 2) return;
  uint64_t from = std::max(engine->position, engine->readAheadEnd);
  uint64_t length = ClipToSize(engine, from, engine->position + window - from);
  if (length != 0 && PoolPush(engine, {from, length}, false)) engine->readAheadEnd = from + length;
}

// Moves arriving body bytes into the cache.
void Collect(HttpEngine* engine) {
  bool forwardOnly = engine->settings.forwardOnly != 0;
  for (uint32_t round = 0; round < kCollectRounds; ++round) {
    uint32_t moved = 0;
    for (uint32_t i = 0; i < engine->connectionCount; ++i) {
      HttpConnection* connection = engine->connections[i];
      RangeRequest arriving;
      if (!connection->ArrivingRange(&arriving) || arriving.length == 0) continue;
      uint32_t room = 0;
      uint8_t* place = engine->cache.PlaceFor(arriving.offset, engine->position, forwardOnly, &room);
      if (place == nullptr) continue;
      uint32_t count = 0;
      connection->ReceiveBody(place, room, &count);
      engine->cache.Commit(arriving.offset, count);
      moved += count;
    }
    if (moved == 0) return;
  }
}

void TakeStatus(HttpEngine* engine) {
  for (uint32_t i = 0; i < engine->connectionCount; ++i) {
    HttpConnection* connection = engine->connections[i];
    ConnectionStatus status = connection->Status();
    if (status.kind == kStatusFailed || status.kind == kStatusTooManyRedirects) {
      if (!engine->failed) engine->failure = status.error != kUriOk ? status.error : kUriFailed;
      engine->failed = true;
    } else if (status.kind == kStatusAuthRequired) {
      engine->authRefused = true;
    }
    if (!connection->HasResponse()) continue;
    if (!engine->ready || (!engine->sizeKnown && status.sizeKnown != 0)) {
      engine->sizeKnown = status.sizeKnown != 0;
      engine->size = status.totalSize;
    }
    engine->ready = true;
  }
}

void Pump(HttpEngine* engine) {
  if (engine->failed || engine->authRefused) return;
  uint64_t now = engine->clock.Elapsed();
  if (engine->pumpedOnce && now - engine->lastPump < kPumpIntervalMs) return;
  engine->pumpedOnce = true;
  engine->lastPump = now;
  Schedule(engine);
  Dispatch(engine);
  for (uint32_t i = 0; i < engine->connectionCount; ++i) engine->connections[i]->Step();
  Collect(engine);
  for (uint32_t i = 0; i < engine->connectionCount; ++i) engine->connections[i]->Step();
  TakeStatus(engine);
}

// The result a wait ends with, or kUriNotReady to keep waiting.
int32_t WaitVerdict(HttpEngine* engine) {
  if (engine->aborted.load()) return kUriAborted;
  if (engine->authRefused) return kUriAuthRefused;
  if (engine->failed) return engine->failure;
  return kUriNotReady;
}

bool AtEnd(HttpEngine* engine) { return engine->sizeKnown && engine->position >= engine->size; }

// Asks for the block under the read position when nothing already brings it.
void RequestPosition(HttpEngine* engine) {
  if (!engine->ready || engine->settings.forwardOnly != 0 || AtEnd(engine)) return;
  const uint8_t* unused;
  uint64_t position = engine->position;
  if (engine->cache.HeldAt(position, &unused) != 0 || Outstanding(engine, position)) return;
  if (position == engine->lastMissEnd && engine->throughWindow == 0) {
    engine->throughWindow = uint64_t(engine->settings.blockCount / 4 + 1) * engine->cache.BlockSize();
    engine->readAheadEnd = position;
  }
  uint64_t blockEnd = engine->cache.WindowOf(position) + engine->cache.BlockSize();
  uint64_t length = ClipToSize(engine, position, blockEnd - position);
  if (length == 0 || !PoolPush(engine, {position, length}, true)) return;
  engine->lastMissEnd = position + length;
  engine->readAheadEnd = std::max(engine->readAheadEnd, position + length);
}

uint32_t CopyFromCache(HttpEngine* engine, uint8_t* out, uint32_t wanted) {
  uint32_t copied = 0;
  while (copied < wanted && !AtEnd(engine)) {
    const uint8_t* data = nullptr;
    uint64_t held = engine->cache.HeldAt(engine->position, &data);
    held = std::min<uint64_t>(ClipToSize(engine, engine->position, held), wanted - copied);
    if (held == 0) break;
    std::memcpy(out + copied, data, held);
    copied += static_cast<uint32_t>(held);
    engine->position += held;
  }
  return copied;
}

// Before the first response: kUriOk once ready, kUriNotReady for a call that may not wait.
int32_t EnsureReady(HttpEngine* engine, bool blocking) {
  if (engine->ready) return kUriOk;
  Pump(engine);
  if (engine->ready) return kUriOk;
  return blocking ? HttpEngineWaitConnected(engine) : WaitVerdict(engine);
}

}  // namespace

void HttpSettingsDefaults(HttpSettings* settings) {
  if (settings == nullptr) return;
  *settings = HttpSettings{0, 0, 256, 1, 32, 0x10000, nullptr, nullptr, nullptr};
}

HttpEngine* HttpEngineCreate(const char* url, VexaOS::MemoryArena* arena, const HttpSettings* settings) {
  HttpUrlParts parts;
  if (settings == nullptr || ParseHttpUrl(url, &parts) != kUriOk || !SettingsUsable(*settings)) {
    return nullptr;
  }
  void* memory = VexaOS::ArenaOrHeapAlloc(arena, sizeof(HttpEngine));
  if (memory == nullptr) return nullptr;
  auto* engine = new (memory) HttpEngine{};
  engine->arena = arena;
  engine->settings = *settings;
  bool ok = true;
  engine->url = CopyString(arena, url, &ok);
  engine->referrer = CopyString(arena, settings->referrer, &ok);
  engine->userAgent = CopyString(arena, settings->userAgent, &ok);
  engine->cookies = CopyString(arena, settings->cookies, &ok);
  engine->pool = static_cast<RangeRequest*>(
      VexaOS::ArenaOrHeapAlloc(arena, settings->prefetchSlots * sizeof(RangeRequest)));
  ok = ok && engine->pool != nullptr &&
       engine->cache.Create(arena, settings->blockCount, settings->blockSize) && MakeConnections(engine);
  if (!ok) {
    FreeEngine(engine);
    return nullptr;
  }
  engine->clock.Start();
  return engine;
}

void HttpEngineDestroy(HttpEngine* engine) {
  if (engine != nullptr) FreeEngine(engine);
}

void HttpEngineSetIdleTimeout(HttpEngine* engine, uint32_t milliseconds) {
  if (engine == nullptr) return;
  for (uint32_t i = 0; i < engine->connectionCount; ++i) engine->connections[i]->SetIdleTimeout(milliseconds);
}

int32_t HttpEngineWaitConnected(HttpEngine* engine) {
  if (engine == nullptr) return kUriNullArgument;
  Pump(engine);
  for (;;) {
    int32_t verdict = WaitVerdict(engine);
    if (verdict != kUriNotReady) return verdict;
    if (engine->ready) return kUriOk;
    SleepMilliseconds(kSlowSleepMs);
    Pump(engine);
  }
}

int32_t HttpEngineWaitForPosition(HttpEngine* engine) {
  int32_t connected = HttpEngineWaitConnected(engine);
  if (connected != kUriOk) return connected;
  for (;;) {
    const uint8_t* unused;
    if (AtEnd(engine) || engine->cache.HeldAt(engine->position, &unused) != 0) return kUriOk;
    int32_t verdict = WaitVerdict(engine);
    if (verdict != kUriNotReady) return verdict;
    RequestPosition(engine);
    Pump(engine);
    SleepMilliseconds(kSlowSleepMs);
  }
}

int32_t HttpEngineRead(HttpEngine* engine, void* buffer, uint32_t* count, bool blocking) {
  if (engine == nullptr || buffer == nullptr || count == nullptr) return kUriNullArgument;
  uint32_t wanted = *count;
  *count = 0;
  int32_t ready = EnsureReady(engine, blocking);
  if (ready != kUriOk) return ready;
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t copied = 0;
  for (;;) {
    copied += CopyFromCache(engine, out + copied, wanted - copied);
    if (copied == wanted || AtEnd(engine) || engine->failed) break;
    RequestPosition(engine);
    Pump(engine);
    if (!blocking) break;
    if (engine->aborted.load()) {
      *count = copied;
      return kUriAborted;
    }
    SleepMilliseconds(engine->ready ? kFastSleepMs : kSlowSleepMs);
  }
  *count = copied;
  Pump(engine);
  for (uint32_t i = 0; i < engine->connectionCount && copied != 0; ++i) engine->connections[i]->TouchIdle();
  if (copied == 0 && AtEnd(engine)) return kUriEnd;
  if (copied == 0 && engine->failed) return engine->failure;
  return kUriOk;
}

int32_t HttpEngineSeek(HttpEngine* engine, SeekOrigin origin, uint64_t offset, bool blocking) {
  if (engine == nullptr) return kUriNullArgument;
  int32_t ready = EnsureReady(engine, blocking);
  if (ready != kUriOk) return ready;
  uint64_t position = engine->position;
  uint64_t target = 0;
  switch (origin) {
    case kSeekForward: target = offset > UINT64_MAX - position ? UINT64_MAX : position + offset; break;
    case kSeekBackward: target = offset > position ? 0 : position - offset; break;
    case kSeekAbsolute: target = offset; break;
    case kSeekFromEnd:
      if (!engine->sizeKnown) return kUriNotSupported;
      target = offset > engine->size ? 0 : engine->size - offset;
      break;
    default: return kUriNotSupported;
  }
  bool backward = origin == kSeekBackward || origin == kSeekFromEnd || target < position;
  if (engine->settings.forwardOnly != 0 && backward) return kUriNotSupported;
  if (engine->sizeKnown) target = std::min(target, engine->size);
  if (target != position) {
    engine->throughWindow = 0;  // reading through again is found again
    engine->lastMissEnd = UINT64_MAX;
  }
  engine->position = target;
  engine->readAheadEnd = target;
  return kUriOk;
}

int32_t HttpEngineTell(HttpEngine* engine, uint64_t* position) {
  if (engine == nullptr || position == nullptr) return kUriNullArgument;
  *position = engine->position;
  return kUriOk;
}

bool HttpEngineSize(HttpEngine* engine, uint64_t* size) {
  if (engine == nullptr || !engine->ready || !engine->sizeKnown) return false;
  if (size != nullptr) *size = engine->size;
  return true;
}

bool HttpEngineIsForwardOnly(HttpEngine* engine) {
  return engine != nullptr && engine->settings.forwardOnly != 0;
}

int32_t HttpEnginePrefetch(HttpEngine* engine, uint64_t offset, uint64_t length) {
  if (engine == nullptr) return kUriNullArgument;
  if (engine->settings.forwardOnly != 0) return kUriNotSupported;
  if (!engine->ready) return kUriNotReady;
  length = ClipToSize(engine, offset, length);
  if (length == 0) return kUriOk;
  return PoolPush(engine, {offset, length}, false) ? kUriOk : kUriTooSmall;
}

int32_t HttpEngineCancelPrefetch(HttpEngine* engine) {
  if (engine == nullptr) return kUriNullArgument;
  engine->poolCount = 0;
  return kUriOk;
}

int32_t HttpEngineMissingRange(HttpEngine* engine, uint64_t* offset, uint64_t* length) {
  if (engine == nullptr || offset == nullptr || length == nullptr) return kUriNullArgument;
  while (*length != 0) {
    const uint8_t* unused;
    uint64_t held = std::min<uint64_t>(engine->cache.HeldAt(*offset, &unused), *length);
    if (held == 0) break;
    *offset += held;
    *length -= held;
  }
  return kUriOk;
}

void HttpEngineAbort(HttpEngine* engine) {
  if (engine != nullptr) engine->aborted.store(true);
}

void HttpEngineResume(HttpEngine* engine) {
  if (engine != nullptr) engine->aborted.store(false);
}

int32_t HttpEngineServerName(HttpEngine* engine, char* buffer, uint32_t capacity) {
  if (engine == nullptr || engine->connectionCount == 0) return kUriFailed;
  return CopyOut(engine->connections[0]->Server(), buffer, capacity);
}

int32_t HttpEngineCurrentUrl(HttpEngine* engine, char* buffer, uint32_t capacity) {
  if (engine == nullptr || engine->connectionCount == 0) return kUriFailed;
  return CopyOut(engine->connections[0]->Url(), buffer, capacity);
}

}  // namespace VexaHttp
