// The streaming stack's primitives that it lends to plug-ins: mutexes, events and threads.
// libsv_net_tools.so exports each one by its name; the ordinal of each is noted beside it.
// sv_net_tools.dll exports them by these ordinals.
#pragma once

#include <cstdint>

#ifdef _WIN32
// sv_net_tools.dll exports each primitive by its ordinal alone (host/sv_net_tools.def); the
// import library made from that file binds callers to the ordinals.
#define SV_NET_API extern "C"
#else
#define SV_NET_API extern "C" __attribute__((visibility("default")))
#endif

typedef void* NetHandle;
typedef uint32_t (*NetThreadProc)(void* argument);

enum : int32_t {
  kNetWaitSignalled = 0,
  kNetWaitTimeout = 258,
  kNetWaitInfinite = -1,
};

SV_NET_API int32_t NetEventWait(NetHandle event, int32_t timeoutMs);                         // 16
SV_NET_API int32_t NetEventCreate(NetHandle* out, int32_t manualReset, int32_t initialState,
                                  int32_t reserved);                                          // 17
SV_NET_API void NetEventDestroy(NetHandle event);                                             // 18
SV_NET_API int32_t NetEventSet(NetHandle event);                                              // 19
SV_NET_API int32_t NetThreadCreate(NetHandle* out, NetThreadProc procedure, void* argument,
                                   int32_t reserved);                                         // 20
SV_NET_API void NetThreadClose(NetHandle thread);                                             // 21
SV_NET_API void NetMutexLock(NetHandle mutex);                                                // 22
SV_NET_API void NetMutexUnlock(NetHandle mutex);                                              // 23
SV_NET_API int32_t NetMutexCreate(NetHandle* out, int32_t reserved);                          // 24
SV_NET_API void NetMutexDestroy(NetHandle mutex);                                             // 25
SV_NET_API int32_t NetThreadJoin(NetHandle thread, int32_t timeoutMs);                        // 55
SV_NET_API uint32_t NetThreadExit(void* argument);                                            // 61
