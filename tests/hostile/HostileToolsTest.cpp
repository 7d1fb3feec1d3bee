// vexa-mkvdump and vexa-transcode on every kind of hostile file, each run a child process with a
// time limit: no signal, no sanitizer report, no hang, and never success with no output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "tests/support/HostileFiles.h"
#include "tests/support/MuxFixture.h"
#include "tests/support/ProcessTestTools.h"

namespace {

constexpr std::chrono::seconds kTimeLimit(10);

std::string Verdict(const ProgramRun& r) {
  if (r.timedOut) return "HANG";
  if (r.signal != 0) return "signal " + std::to_string(r.signal);
  if (r.standardError.find("Sanitizer") != std::string::npos || r.standardError.find("runtime error") != std::string::npos)
    return "sanitizer report";
  if (r.exitCode == 0 && r.outputBytes == 0) return "exit 0, no output";
  return "";
}

const std::vector<HostileFiles::Variant> kVariants = HostileFiles::Variants(HostileFiles::SoundFile());
const char* const kTools[] = {"vexa-mkvdump", "vexa-transcode"};

// Every kind of file once, in the order the variants come, then the special files.
std::vector<std::string> Kinds() {
  std::vector<std::string> kinds;
  for (const HostileFiles::Variant& v : kVariants)
    if (std::find(kinds.begin(), kinds.end(), v.kind) == kinds.end()) kinds.push_back(v.kind);
  kinds.insert(kinds.end(), {"a directory", "a FIFO with no writer", "/dev/zero"});
  return kinds;
}

class HostileTools : public ::testing::TestWithParam<std::string> {
 protected:
  static void SetUpTestSuite() {
    UseTestEnvironment();
    dir_ = ProcessTestTools::MakeTempDir("hostile");
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }
  // The files of one kind, written into the folder.
  static std::vector<std::string> FilesOf(const std::string& kind) {
    std::vector<std::string> paths;
    for (const HostileFiles::Variant& v : kVariants) {
      if (v.kind != kind) continue;
      paths.push_back(dir_ + "/" + v.name);
      std::ofstream(paths.back(), std::ios::binary).write(reinterpret_cast<const char*>(v.bytes.data()), v.bytes.size());
    }
    for (const HostileFiles::Special& s : HostileFiles::MakeSpecialFiles(dir_))
      if (s.kind == kind) paths.push_back(s.path);
    return paths;
  }
  static std::vector<std::string> Command(const std::string& tool, const std::string& file) {
    if (tool == "vexa-mkvdump") return {VEXA_MKVDUMP, file};
    return {VEXA_TRANSCODE, "--plugin", VEXA_PLUGIN, "--output", "-", file};
  }
  static std::string dir_;
};
std::string HostileTools::dir_;

}  // namespace

// Prints one row of the table per tool: tool, kind of file, how many, and the outcomes seen.
TEST_P(HostileTools, NoCrashNoHangNoSilentSuccess) {
  const std::vector<std::string> files = FilesOf(GetParam());
  ASSERT_FALSE(files.empty());
  for (const std::string tool : kTools) {
    std::set<std::string> seen;
    for (const std::string& file : files) {
      const ProgramRun r = RunProgram(Command(tool, file), dir_ + "/run.out", kTimeLimit);
      const std::string bad = Verdict(r);
      EXPECT_EQ(bad, "") << tool << " " << file << ": " << r.standardError.substr(0, 2000);
      seen.insert(bad.empty() ? "exit " + std::to_string(r.exitCode) : bad);
    }
    std::string outcomes;
    for (const std::string& s : seen) outcomes += (outcomes.empty() ? "" : ", ") + s;
    std::printf("| %s | %s | %zu | %s |\n", tool.c_str(), GetParam().c_str(), files.size(), outcomes.c_str());
  }
}

INSTANTIATE_TEST_SUITE_P(Files, HostileTools, ::testing::ValuesIn(Kinds()), [](const auto& info) {
  std::string name;
  for (char ch : info.param) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  return name;
});
