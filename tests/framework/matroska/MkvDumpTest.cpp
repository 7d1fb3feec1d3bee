// vexa-mkvdump: its block lines carry what ffprobe reports, and a file it cannot read
// ends it with the framework's error name.
#include <gtest/gtest.h>

#include <cstdio>
#include <cinttypes>

#include "tests/framework/matroska/MkvCorpus.h"

using namespace mkvtest;

namespace {

struct DumpRun {
  int status;
  std::vector<std::string> lines;
};

DumpRun Dump(const std::string& args) {
  DumpRun run{-1, {}};
  const std::string cmd = "cd '" + CorpusDir() + "' && '" VEXA_MKVDUMP "' " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return run;
  char buf[512];
  while (fgets(buf, sizeof buf, p) != nullptr) {
    std::string line(buf);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    run.lines.push_back(line);
  }
  run.status = pclose(p);
  return run;
}

}  // namespace

TEST(MkvDump, BlockLinesMatchFfprobe) {
  ASSERT_TRUE(BuildCorpus());
  const std::string file = CorpusDir() + "/zlib.mkv";
  const DumpRun run = Dump("'" + file + "'");
  ASSERT_EQ(run.status, 0);
  std::vector<std::pair<uint32_t, uint32_t>> video;  // size, crc of the video stream
  size_t streams = 0, blocks = 0;
  for (const std::string& line : run.lines) {
    if (line.rfind("stream kind=", 0) == 0) ++streams;
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
  size_t packets = 0;
  for (const auto& s : probe) packets += s.packets.size();
  EXPECT_EQ(streams, probe.size());
  EXPECT_EQ(blocks, packets);
  ASSERT_EQ(video.size(), probe[0].packets.size());
  for (size_t i = 0; i < video.size(); ++i) {
    EXPECT_EQ(video[i].first, probe[0].packets[i].size);
    EXPECT_EQ(video[i].second, probe[0].packets[i].crc);
  }
}

TEST(MkvDump, SeekPrintsTheTimeReachedAndFailuresTheErrorName) {
  ASSERT_TRUE(BuildCorpus());
  const DumpRun seek = Dump("'" + CorpusDir() + "/nocues.mkv' --seek 1500");
  ASSERT_EQ(seek.status, 0);
  bool found = false;
  for (const std::string& line : seek.lines) {
    long long reached = -1;
    found = found || std::sscanf(line.c_str(), "seek target=15000000 reached=%lld", &reached) == 1;
  }
  EXPECT_TRUE(found);
  const DumpRun bad = Dump("'" + CorpusDir() + "/missing.mkv'");
  EXPECT_NE(bad.status, 0);
  ASSERT_FALSE(bad.lines.empty());
  EXPECT_NE(bad.lines.back().find("VMF_ERR_FILE_OPEN_FAILURE: Failed to open file."), std::string::npos);
}
