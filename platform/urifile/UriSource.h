// The byte source UriFileMemory drives, by URI prefix (compared case-sensitively, in this
// order): "file://" reads the rest of the string as a path with the standard streams (offsets
// below 2^31), "http://" goes through the HTTP engine, "nolo://" through a nolo connection.
// Anything else fails the open. All memory comes from the arena given at open; without one the
// source makes a private 4 MiB buffer with its own arena.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "platform/files/UriResult.h"
#include "platform/http/HttpEngine.h"
#include "platform/urifile/NoloProtocol.h"

namespace VexaOS {
struct MemoryArena;
}

namespace VexaUri {

class NoloConnection;

enum UriSourceKind : uint32_t { kSourceFile = 0, kSourceHttp = 1, kSourceNolo = 2 };

constexpr uint32_t kPrivateSourceArenaBytes = 0x400000;
constexpr uint64_t kFileSourceOffsetLimit = 0x80000000ull;  // "file://" offsets stay below

struct UriSource {
  UriSourceKind kind;
  FILE* file;                    // kSourceFile
  VexaHttp::HttpEngine* engine;  // kSourceHttp
  NoloConnection* nolo;          // kSourceNolo
  NoloAddress noloAddress;
  uint64_t noloPosition;
  void* privateBuffer;           // the 4 MiB buffer when no arena was given
  VexaOS::MemoryArena* arena;
};

// Null for an unknown prefix or a source that cannot be made. `aborted` (may be null) is the
// owner's flag, looked at by sources that wait.
UriSource* UriSourceOpen(const char* uri, VexaOS::MemoryArena* arena,
                         const VexaHttp::HttpSettings* settings, const std::atomic<bool>* aborted);
void UriSourceClose(UriSource* source);

// Waits until the source can serve its first bytes: the HTTP engine until the block at the
// position is there (kUriAuthRefused when the server asked for credentials); the nolo
// connection connects and learns the size.
int32_t UriSourceConnect(UriSource* source);

int32_t UriSourceSeek(UriSource* source, VexaFiles::SeekOrigin origin, uint64_t offset, bool blocking);
int32_t UriSourceTell(UriSource* source, uint64_t* position, bool blocking);
int32_t UriSourceRead(UriSource* source, void* buffer, uint32_t* count, bool blocking);
bool UriSourceIsForwardOnly(UriSource* source);
// True when the size is known.
bool UriSourceSize(UriSource* source, uint64_t* size);
int32_t UriSourceServerName(UriSource* source, char* buffer, uint32_t capacity);
int32_t UriSourceCurrentUrl(UriSource* source, char* buffer, uint32_t capacity);
int32_t UriSourceMissingRange(UriSource* source, uint64_t* offset, uint64_t* length);
int32_t UriSourcePrefetch(UriSource* source, uint64_t offset, uint64_t length);
int32_t UriSourceCancelPrefetch(UriSource* source);
// Safe from another thread while a read waits; Resume clears the mark of the engine.
void UriSourceAbort(UriSource* source);
void UriSourceResume(UriSource* source);

}  // namespace VexaUri
