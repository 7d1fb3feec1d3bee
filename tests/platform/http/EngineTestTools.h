// What the engine's tests share: an engine that goes with its scope, and a read to the end.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/http/HttpEngine.h"

namespace HttpTest {

struct EngineDeleter {
  void operator()(VexaHttp::HttpEngine* engine) const { VexaHttp::HttpEngineDestroy(engine); }
};
using EnginePtr = std::unique_ptr<VexaHttp::HttpEngine, EngineDeleter>;

inline EnginePtr OpenEngine(const std::string& url, uint32_t blockCount = 32, uint32_t blockSize = 0x10000,
                            uint32_t readAhead = 0, uint32_t forwardOnly = 0) {
  VexaHttp::HttpSettings settings;
  VexaHttp::HttpSettingsDefaults(&settings);
  settings.blockCount = blockCount;
  settings.blockSize = blockSize;
  settings.readAheadWindow = readAhead;
  settings.forwardOnly = forwardOnly;
  return EnginePtr(VexaHttp::HttpEngineCreate(url.c_str(), nullptr, &settings));
}

// Blocking reads of `chunk` bytes until the engine answers anything but a full kUriOk; that
// answer goes to *last.
inline std::string ReadAll(VexaHttp::HttpEngine* engine, uint32_t chunk, int32_t* last = nullptr) {
  std::string out;
  std::vector<char> buffer(chunk);
  int32_t result;
  uint32_t count;
  do {
    count = chunk;
    result = VexaHttp::HttpEngineRead(engine, buffer.data(), &count, true);
    out.append(buffer.data(), count);
  } while (result == VexaFiles::kUriOk && count != 0);
  if (last != nullptr) *last = result;
  return out;
}

}  // namespace HttpTest
