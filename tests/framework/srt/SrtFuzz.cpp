// libFuzzer target: arbitrary bytes as a SubRip file, loaded by CSRTReader (every cue, then
// seeks by time) and opened through the SRT module in text output, read to the end. Aborts
// when a cue breaks what the reader promises: terminated text, an end not before its start.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "framework/ModuleTable.h"
#include "framework/VmfErrors.h"
#include "framework/VmfQueryIds.h"
#include "framework/srt/SrtReader.h"
#include "platform/files/TextConvert.h"

namespace {

void Require(bool holds) {
  if (!holds) std::abort();
}

// A folder of its own for the whole run, removed when the process ends normally.
struct FuzzFolder {
  FuzzFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fuzz_srtXXXXXX").string();
    Require(::mkdtemp(pattern.data()) != nullptr);
    file = std::filesystem::path(pattern) / "cues.srt";
    Require(VexaFiles::Utf8ToUtf16String(file.string(), name));
  }
  ~FuzzFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(file.parent_path(), ignored);
  }
  std::filesystem::path file;
  std::u16string name;
};

// Every cue once, then seeks to the edges and into the cues; answers the cue count.
size_t ReadAllCues(const std::u16string& name) {
  srt::CSRTReader reader;
  reader.Load(name.c_str());
  int64_t start = 0, end = 0, first = 0, last = 0;
  char text[srt::kCueTextBytes];
  for (size_t i = 0; reader.NextCue(&start, &end, text) == srt::kSrtOk; ++i, last = end) {
    Require(std::memchr(text, '\0', sizeof text) != nullptr && end >= start && i < reader.CueCount());
    if (i == 0) first = start;
  }
  for (int64_t target : {INT64_MIN, int64_t{0}, first, first + 1, last, INT64_MAX}) {
    int64_t t = target;
    const int32_t result = reader.Seek(&t);
    if (reader.CueCount() == 0) Require(result == srt::kSrtEnd && t == target);
    else if (result != srt::kSrtOk) Require(result == srt::kSrtEnd && t == -1);
    else Require(reader.NextCue(&start, &end, text) == srt::kSrtOk && start == t);
  }
  return reader.CueCount();
}

// The module in text output hands out as many cues as the reader loaded.
void ReadThroughModule(const std::u16string& name, size_t cues) {
  const VmfEntryTable& entries = *SrtModuleDescriptor()->entries;
  VmfModuleHandle module = nullptr;
  if (entries.openContainer(&module, name.c_str(), nullptr) != VMF_OK) return;
  VmfQueryValue on{0, 0, {.bytes = {1}}};
  Require(entries.setInfo(module, VMF_QID_SET_SRT_OUTPUT_TEXT, &on, 0) == VMF_OK);
  uint8_t buffer[srt::kCueTextBytes];
  VmfBlock block{buffer, 0, sizeof buffer, 0, 0, 0, nullptr, nullptr, {}};
  for (; entries.readNextBlockByStream(module, VMF_BLOCK_SUBTITLE, 0, &block) == VMF_OK; --cues)
    Require(cues > 0 && block.size < sizeof buffer && buffer[block.size] == 0 && block.duration >= 0);
  Require(cues == 0);
  entries.closeContainer(module);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const FuzzFolder folder;
  std::ofstream(folder.file, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));
  ReadThroughModule(folder.name, ReadAllCues(folder.name));
  return 0;
}
