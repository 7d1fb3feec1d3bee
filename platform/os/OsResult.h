// Result codes of the OS primitives (locks, events, threads, file-URL helpers, plug-in loading).
// The numbers are those the primitives have always answered; callers compare with the names.
#pragma once

#include <cstdint>

namespace VexaOS {

enum : int32_t {
  kOsOk = 0,
  kOsFailed = -1,    // Lock, Unlock, Start: no lock or thread, or the wait failed
  kOsTimedOut = -1,  // Wait: the time-out passed without the event
};

// FileInfoFromUrl and DeleteFileFromUrl.
enum : int32_t { kFileUrlOk = 0, kFileUrlFailed = 1 };

// LoadPluginLibrary and GetPluginEntry.
enum : int32_t {
  kPluginOk = 0,
  kPluginFailed = -1,       // the load failed, or no such entry
  kPluginNoArgument = -2,   // a null name or out pointer, or (GetPluginEntry) nothing loaded
  kPluginNoNarrowName = -10,
};

// A character that is not a hexadecimal digit.
constexpr int kNotHexDigit = -1;

}  // namespace VexaOS
