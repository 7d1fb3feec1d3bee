// A download-manager library of our own for the backend's tests: the nine entry points answer
// as the test scripts them and count what they were asked. The test reaches the script through
// the exported ScriptedDownloadManagerScript.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DownloadManagerScript {
  int32_t getInfoResult = 0;
  uint64_t totalSize = 1000, downloaded = 0;
  int32_t notReadyReads = 0, notReadyAnswer = 10;  // reads answering this before data comes
  uint32_t shortBy = 0;                            // delivering reads give this much less
  std::vector<std::u16string> options = {};        // "plugin:name=value", in order
  int opens = 0, reads = 0, seeks = 0, aborts = 0, closes = 0;
  uint64_t position = 0, validFrom = 0, validLimit = 0;
};

// The scripted resource's byte at `offset`, its rate and its count of valid bytes.
inline uint8_t ScriptedByte(uint64_t offset) { return static_cast<uint8_t>(offset * 7 + 3); }
constexpr uint32_t kScriptedRate = 640000;
constexpr uint64_t kScriptedValidBytes = 777;
