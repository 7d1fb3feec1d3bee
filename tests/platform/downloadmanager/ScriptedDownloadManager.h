// A download-manager library of our own for the backend's tests: it exports the nine entry
// points, answers as the test scripts it and records what it was asked. The test reaches the
// script through the exported ScriptedDownloadManagerScript.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DownloadManagerScript {
  // Answers.
  int32_t openResult = 0;
  int32_t getInfoResult = 0;
  int32_t seekResult = 0;
  uint64_t totalSize = 1000;
  uint64_t downloaded = 0;
  uint32_t bitRate = 0;
  uint32_t byteRanges = 0;
  uint64_t validBytes = 0;
  int32_t notReadyReads = 0;     // reads answering `notReadyAnswer` before data comes
  int32_t notReadyAnswer = 10;
  uint32_t shortBy = 0;          // a delivering read gives this many bytes fewer than asked
  // What was asked.
  std::vector<std::u16string> options;  // "name=value", in order
  std::u16string openedUrl;
  int opens = 0, reads = 0, seeks = 0, aborts = 0, closes = 0;
  uint64_t position = 0;
  uint64_t validFrom = 0, validLimit = 0;
};

// The byte at `offset` of the scripted resource.
inline uint8_t ScriptedByte(uint64_t offset) { return static_cast<uint8_t>(offset * 7 + 3); }

using ScriptAccessFn = DownloadManagerScript* (*)();
constexpr const char* kScriptAccessName = "ScriptedDownloadManagerScript";
