// vexa-mkvdump: a seek prints the time reached, and a file it cannot read ends it with the
// framework's error name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

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
