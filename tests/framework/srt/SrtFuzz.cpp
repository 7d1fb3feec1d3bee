// libFuzzer target: arbitrary bytes as a SubRip file, loaded by CSRTReader (every cue, then
// seeks by time) and opened through the SRT module in text output, read to the end. Aborts
// when a cue breaks what the reader promises: terminated text, an end not before its start.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "framework/ModuleTable.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "framework/srt/SrtReader.h"
#include "platform/files/TextConvert.h"

namespace {

void Require(bool holds) {
  if (!holds) std::abort();
}

// One folder for the whole run, removed when the process ends normally.
class FuzzFolder {
 public:
  FuzzFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fuzz_srtXXXXXX").string();
    Require(::mkdtemp(pattern.data()) != nullptr);
    m_path = pattern;
    Require(VexaFiles::Utf8ToUtf16String((m_path / "cues.srt").string(), m_file));
  }
  ~FuzzFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  const std::u16string& Write(const uint8_t* data, size_t size) const {
    std::ofstream(m_path / "cues.srt", std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                                 static_cast<std::streamsize>(size));
    return m_file;
  }

 private:
  std::filesystem::path m_path;
  std::u16string m_file;
};

// Every cue once, then seeks to the edges and into the cues; answers the cue count.
size_t ReadAllCues(const std::u16string& name) {
  srt::CSRTReader reader;
  reader.Load(name.c_str());
  size_t handedOut = 0;
  int64_t start = 0, end = 0, firstStart = 0, lastEnd = 0;
  char text[srt::kCueTextBytes];
  while (reader.NextCue(&start, &end, text) == srt::kSrtOk) {
    Require(std::memchr(text, '\0', sizeof text) != nullptr && end >= start);
    if (handedOut++ == 0) firstStart = start;
    lastEnd = end;
  }
  Require(handedOut == reader.CueCount());
  for (int64_t target : {INT64_MIN, int64_t{0}, firstStart, firstStart + 1, lastEnd, INT64_MAX}) {
    int64_t t = target;
    const int32_t result = reader.Seek(&t);
    if (reader.CueCount() == 0) {
      Require(result == srt::kSrtEnd && t == target);
    } else if (result == srt::kSrtOk) {
      Require(reader.NextCue(&start, &end, text) == srt::kSrtOk && start == t);
    } else {
      Require(result == srt::kSrtEnd && t == -1);
    }
  }
  return reader.CueCount();
}

// The module in text output hands out the same number of cues as the reader loaded.
void ReadThroughModule(const std::u16string& name, size_t cues) {
  const VmfEntryTable& entries = *SrtModuleDescriptor()->entries;
  VmfModuleHandle module = nullptr;
  if (entries.openContainer(&module, name.c_str(), nullptr) != VMF_OK) return;
  VmfQueryValue on{0, 0, {.bytes = {1}}};
  Require(entries.setInfo(module, VMF_QID_SET_SRT_OUTPUT_TEXT, &on, 0) == VMF_OK);
  uint8_t buffer[srt::kCueTextBytes];
  size_t blocks = 0;
  for (;;) {
    VmfBlock block{buffer, 0, sizeof buffer, 0, 0, 0, nullptr, nullptr, {}};
    if (entries.readNextBlockByStream(module, VMF_BLOCK_SUBTITLE, 0, &block) != VMF_OK) break;
    Require(block.size < sizeof buffer && buffer[block.size] == 0 && block.duration >= 0);
    ++blocks;
  }
  Require(blocks == cues);
  int64_t t = 0;
  entries.setPosition(module, VMF_BLOCK_SUBTITLE, 0, &t);
  entries.closeContainer(module);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const FuzzFolder folder;
  const std::u16string& name = folder.Write(data, size);
  ReadThroughModule(name, ReadAllCues(name));
  return 0;
}
