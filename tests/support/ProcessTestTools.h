// Stand-in programs written by the tests, and a look at which processes are left over.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>

#include "platform/files/TextConvert.h"

namespace ProcessTestTools {

inline std::u16string Wide(const std::string& utf8) {
  std::u16string wide;
  EXPECT_TRUE(VexaFiles::Utf8ToUtf16String(utf8, wide)) << utf8;
  return wide;
}

// A fresh folder under the build tree; tag may hold spaces, quotes and non-ASCII.
inline std::string MakeTempDir(const std::string& tag) {
  std::string base = std::string(VEXA_BINARY_DIR) + "/testdata";
  ::mkdir(base.c_str(), 0755);
  std::string pattern = base + "/" + tag + "XXXXXX";
  EXPECT_NE(::mkdtemp(pattern.data()), nullptr) << pattern;
  return pattern;
}

inline std::string WriteScript(const std::string& dir, const std::string& name,
                               const std::string& body) {
  std::string path = dir + "/" + name;
  std::ofstream(path) << "#!/bin/sh\n" << body;
  ::chmod(path.c_str(), 0755);
  return path;
}

// The process id a stand-in wrote into file, waiting for it up to two seconds.
inline pid_t ReadPid(const std::string& file) {
  pid_t pid = 0;
  for (int i = 0; i < 200 && !(std::ifstream(file) >> pid); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return pid;
}

// Running (not zombie) processes of the group pgid.
inline int LiveGroupMembers(pid_t pgid) {
  int live = 0;
  DIR* proc = ::opendir("/proc");
  while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
    std::string line;
    std::getline(std::ifstream(std::string("/proc/") + entry->d_name + "/stat"), line);
    size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(line.substr(close + 2));
    char state = 0;
    pid_t parent = 0, group = 0;
    fields >> state >> parent >> group;
    if (group == pgid && state != 'Z' && state != 'X') ++live;
  }
  if (proc) ::closedir(proc);
  return live;
}

// The child has been reaped and nothing of its group runs any more (a killed grandchild dies
// asynchronously, so that gets a moment).
inline void ExpectNoneLeft(pid_t pid) {
  ASSERT_GT(pid, 0);
  struct stat info {};
  EXPECT_NE(::stat(("/proc/" + std::to_string(pid)).c_str(), &info), 0) << pid << " not reaped";
  int live = LiveGroupMembers(pid);
  for (int i = 0; i < 100 && live != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    live = LiveGroupMembers(pid);
  }
  EXPECT_EQ(live, 0) << "processes of group " << pid << " still run";
}

}  // namespace ProcessTestTools
