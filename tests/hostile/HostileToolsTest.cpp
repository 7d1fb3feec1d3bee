// vexa-mkvdump and vexa-transcode on every hostile file, each run a child process with a
// time limit: no signal, no sanitizer report, no hang, and never success with no output.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/HostileFiles.h"
#include "tests/support/ProcessTestTools.h"

extern char** environ;

namespace {

constexpr auto kTimeLimit = std::chrono::seconds(10);

struct ChildRun {
  int exitCode = -1;  // -1 when it did not exit by itself
  int signal = 0;
  bool timedOut = false;
  size_t outputBytes = 0;
  std::string errors;
};

std::string ReadText(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

ChildRun RunChild(std::vector<std::string> args, const std::string& scratch) {
  ChildRun run;
  const std::string out = scratch + ".out", err = scratch + ".err";
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    run.errors = "spawn failed";
    return run;
  }
  const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      run.timedOut = true;
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (!run.timedOut && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  if (!run.timedOut && WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  run.outputBytes = ReadText(out).size();
  run.errors = ReadText(err);
  return run;
}

std::string Verdict(const ChildRun& r) {
  if (r.timedOut) return "HANG";
  if (r.signal != 0) return "signal " + std::to_string(r.signal);
  if (r.errors.find("Sanitizer") != std::string::npos || r.errors.find("runtime error") != std::string::npos)
    return "sanitizer report";
  if (r.exitCode == 0 && r.outputBytes == 0) return "exit 0, no output";
  return "";
}

std::vector<std::string> Kinds() {
  std::vector<std::string> kinds;
  for (const HostileFiles::Variant& v : HostileFiles::Variants(HostileFiles::SoundFile()))
    if (std::find(kinds.begin(), kinds.end(), v.kind) == kinds.end()) kinds.push_back(v.kind);
  for (const char* special : {"a directory", "a FIFO with no writer", "/dev/zero"}) kinds.push_back(special);
  return kinds;
}

struct Case {
  std::string tool, kind;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.tool << " on " << c.kind; }

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (const char* tool : {"vexa-mkvdump", "vexa-transcode"})
    for (const std::string& kind : Kinds()) cases.push_back({tool, kind});
  return cases;
}

class HostileTools : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() {
    dir_ = ProcessTestTools::MakeTempDir("hostile");
    setenv("VEXA_L1LOG_DIR", dir_.c_str(), 1);
    setenv("VEXA_SETTINGS_USER_ROOT", (dir_ + "/settings-user").c_str(), 1);
    setenv("VEXA_SETTINGS_MACHINE_ROOT", (dir_ + "/settings-machine").c_str(), 1);
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }
  // The files of one kind, written into the folder.
  static std::vector<std::string> FilesOf(const std::string& kind) {
    std::vector<std::string> paths;
    for (const HostileFiles::Variant& v : HostileFiles::Variants(HostileFiles::SoundFile())) {
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

// Prints one row of the table: tool, kind of file, how many, and the outcomes seen.
TEST_P(HostileTools, NoCrashNoHangNoSilentSuccess) {
  const Case& c = GetParam();
  const std::vector<std::string> files = FilesOf(c.kind);
  ASSERT_FALSE(files.empty());
  std::set<std::string> seen;
  for (const std::string& file : files) {
    const ChildRun r = RunChild(Command(c.tool, file), dir_ + "/run");
    const std::string bad = Verdict(r);
    EXPECT_EQ(bad, "") << c.tool << " " << file << ": " << r.errors.substr(0, 2000);
    seen.insert(bad.empty() ? "exit " + std::to_string(r.exitCode) : bad);
  }
  std::string outcomes;
  for (const std::string& s : seen) outcomes += (outcomes.empty() ? "" : ", ") + s;
  std::printf("| %s | %s | %zu | %s |\n", c.tool.c_str(), c.kind.c_str(), files.size(), outcomes.c_str());
}

INSTANTIATE_TEST_SUITE_P(Files, HostileTools, ::testing::ValuesIn(Cases()), [](const auto& info) {
  std::string name = info.param.tool.substr(5) + "_";
  for (char ch : info.param.kind) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  return name;
});
