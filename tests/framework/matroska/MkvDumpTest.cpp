// vexa-mkvdump: its block lines carry what ffprobe reports, and a file it cannot read
// ends it with the framework's error name.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

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
  const std::regex block(R"(block kind=([123]) stream=(\d+) time=(-?\d+) duration=(-?\d+) key=([01]) size=(\d+) crc32=([0-9a-f]{8}))");
  std::vector<std::pair<uint32_t, uint32_t>> video;  // size, crc of the video stream
  size_t streams = 0, blocks = 0;
  for (const std::string& line : run.lines) {
    std::smatch m;
    if (line.rfind("stream kind=", 0) == 0) ++streams;
    if (!std::regex_match(line, m, block)) continue;
    ++blocks;
    if (m[1] == "2") video.emplace_back(std::stoul(m[6]), std::stoul(m[7], nullptr, 16));
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
  for (const std::string& line : seek.lines) found = found || std::regex_match(line, std::regex(R"(seek target=15000000 reached=\d+)"));
  EXPECT_TRUE(found);
  const DumpRun bad = Dump("'" + CorpusDir() + "/missing.mkv'");
  EXPECT_NE(bad.status, 0);
  ASSERT_FALSE(bad.lines.empty());
  EXPECT_NE(bad.lines.back().find("VMF_ERR_FILE_OPEN_FAILURE: Failed to open file."), std::string::npos);
}
