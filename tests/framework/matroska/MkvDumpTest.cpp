// vexa-mkvdump: its block lines carry what ffprobe reports, and a file it cannot read
// ends it with the framework's error name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>

#include "tests/framework/matroska/MkvCorpus.h"

using namespace mkvtest;

namespace {

// Runs the tool in the corpus folder; answers its exit status and its output lines.
std::pair<int, std::vector<std::string>> Dump(const std::string& args) {
  EXPECT_TRUE(BuildCorpus());
  const std::string out = CorpusDir() + "/dump-" + std::to_string(getpid()) + ".txt";
  const int status = std::system(("cd '" + CorpusDir() + "' && '" VEXA_MKVDUMP "' " + args + " > '" + out + "' 2>&1").c_str());
  std::vector<std::string> lines;
  std::ifstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return {status, lines};
}

}  // namespace

TEST(MkvDump, BlockLinesMatchFfprobe) {
  const std::string file = CorpusDir() + "/zlib.mkv";
  const auto [status, lines] = Dump("'" + file + "'");
  ASSERT_EQ(status, 0);
  std::vector<std::pair<uint32_t, uint32_t>> video, expected;  // size and crc of each video frame
  size_t streams = 0, blocks = 0, packets = 0;
  for (const std::string& line : lines) {
    streams += line.starts_with("stream kind=");
    int kind = 0, stream = 0, key = 0, used = 0;
    int64_t time = 0, duration = 0;
    unsigned size = 0, crc = 0;
    if (std::sscanf(line.c_str(), "block kind=%d stream=%d time=%" SCNd64 " duration=%" SCNd64 " key=%d size=%u crc32=%8x%n",
                    &kind, &stream, &time, &duration, &key, &size, &crc, &used) != 7 ||
        static_cast<size_t>(used) != line.size())
      continue;
    ++blocks;
    EXPECT_TRUE(kind >= 1 && kind <= 3 && (key == 0 || key == 1)) << line;
    if (kind == 2) video.emplace_back(size, crc);
  }
  const auto probe = Probe(file);
  for (const auto& s : probe) packets += s.packets.size();
  for (const ProbePacket& p : probe.at(0).packets) expected.emplace_back(p.size, p.crc);
  EXPECT_EQ(std::tuple(streams, blocks, video), std::tuple(probe.size(), packets, expected));
}

TEST(MkvDump, SeekPrintsTheTimeReachedAndFailuresTheErrorName) {
  const auto seek = Dump("'" + CorpusDir() + "/nocues.mkv' --seek 1500");
  ASSERT_EQ(seek.first, 0);
  long long reached = -1;
  for (const std::string& line : seek.second) std::sscanf(line.c_str(), "seek target=15000000 reached=%lld", &reached);
  EXPECT_GE(reached, 0);
  const auto bad = Dump("'" + CorpusDir() + "/missing.mkv'");
  EXPECT_NE(bad.first, 0);
  ASSERT_FALSE(bad.second.empty());
  EXPECT_NE(bad.second.back().find("VMF_ERR_FILE_OPEN_FAILURE: Failed to open file."), std::string::npos);
}
