#pragma once
// The fixture corpus built at test time with FFmpeg and mkvmerge, and what ffprobe says
// about it.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "framework/matroska/MkvReader.h"

namespace mkvtest {

inline std::string CorpusDir() { return std::string(VEXA_BINARY_DIR) + "/matroska-fixtures"; }

// Builds the corpus once per build directory; false when the tools failed.
inline bool BuildCorpus() {
  const std::string cmd = "sh " + std::string(VEXA_SOURCE_DIR) +
                          "/tests/framework/matroska/make_fixtures.sh " + CorpusDir();
  return std::system(cmd.c_str()) == 0;
}

inline std::vector<uint8_t> LoadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::unique_ptr<mkv::MkvReader> OpenBytes(std::vector<uint8_t> bytes, int32_t* rc) {
  auto r = std::make_unique<mkv::MkvReader>(std::make_unique<mkv::MkvMemorySource>(std::move(bytes)));
  *rc = r->Open();
  return r;
}

struct ProbePacket {
  int64_t ptsMs;
  uint32_t size;
  uint32_t crc;
  bool key;
};

struct ProbeStream {
  int32_t blockType;  // framework block type
  std::vector<ProbePacket> packets;
};

std::vector<ProbeStream> Probe(const std::string& path);

}  // namespace mkvtest
