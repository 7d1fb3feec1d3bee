// Small Matroska files whose blocks name themselves, for following a request through layer 2 to
// the file and stream that answer it, and the trace the logging module writes.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "framework/VmfRecords.h"
#include "tests/support/EbmlWriter.h"
#include "tests/support/ProcessTestTools.h"

namespace containertest {

// Writes a Matroska file with `video`, `audio` and `subtitle` tracks; each stream holds two
// blocks whose bytes read "<tag>/<blockType>/<stream>/<n>". Answers the file's name.
inline std::u16string WriteTaggedMkv(const std::filesystem::path& path, const std::string& tag, int video,
                                     int audio, int subtitle) {
  using namespace mkvtest;
  const struct { int streams; uint64_t trackType; const char* codec; int32_t blockType; } kinds[] = {
      {video, 1, "V_MPEG4/ISO/AVC", VMF_BLOCK_VIDEO},
      {audio, 2, "A_AAC", VMF_BLOCK_AUDIO},
      {subtitle, 0x11, "S_TEXT/UTF8", VMF_BLOCK_SUBTITLE}};
  Bytes tracks, blocks;
  uint64_t track = 0;
  for (const auto& kind : kinds) {
    for (int stream = 0; stream < kind.streams; ++stream) {
      tracks = Cat({tracks, TrackEntry(++track, kind.trackType, kind.codec)});
      for (int n = 0; n < 2; ++n) {
        const std::string text = tag + "/" + std::to_string(kind.blockType) + "/" + std::to_string(stream) + "/" +
                                 std::to_string(n);
        blocks = Cat({blocks, SimpleBlock(track, static_cast<int16_t>(n), 0x80, Bytes(text.begin(), text.end()))});
      }
    }
  }
  const Bytes file = File(Cat({Tracks(tracks), Cluster(0, blocks)}));
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
  return path.u16string();
}

// The logging module's trace file in `dir`, narrowed to ASCII after its UTF-16 byte-order
// mark; "no mark" or "not ASCII" where the bytes are not that.
inline std::string LogText(const std::filesystem::path& dir) {
  const std::string bytes = ProcessTestTools::ReadText(dir / "L1log.txt");
  if (bytes.rfind("\xFF\xFE", 0) != 0) return "no mark";
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    if (bytes[i + 1] != 0 || bytes[i] < 0) return "not ASCII";
    text += bytes[i];
  }
  return bytes.size() % 2 == 0 ? text : "not ASCII";
}

}  // namespace containertest
