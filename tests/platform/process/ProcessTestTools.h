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
#include <sys/types.h>
#include <thread>

#include "platform/files/TextConvert.h"

namespace ProcessTestTools {

// UTF-8 to UTF-16 for the names the tests make.
inline std::u16string Wide(const std::string& utf8) {
  std::u16string wide;
  EXPECT_TRUE(VexaFiles::Utf8ToUtf16String(utf8, wide)) << utf8;
  return wide;
}

// A fresh folder under the build tree; tag may contain spaces, quotes and non-ASCII.
inline std::string MakeTempDir(const std::string& tag) {
  std::string base = std::string(VEXA_BINARY_DIR) + "/testdata";
  ::mkdir(base.c_str(), 0755);
  std::string pattern = base + "/" + tag + "XXXXXX";
  if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "cannot make " << pattern;
  return pattern;
}

// A /bin/sh script with the given body, executable.
inline std::string WriteScript(const std::string& dir, const std::string& name,
                               const std::string& body) {
  std::string path = dir + "/" + name;
  std::ofstream(path) << "#!/bin/sh\n" << body;
  ::chmod(path.c_str(), 0755);
  return path;
}

// The process id a stand-in wrote into file, waiting for it up to two seconds.
inline pid_t ReadPid(const std::string& file) {
  for (int i = 0; i < 200; ++i) {
    std::ifstream in(file);
    pid_t pid = 0;
    if (in >> pid && pid > 0) return pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

// Whether any entry for pid exists, a zombie included (an unreaped child stays a zombie).
inline bool ProcessEntryExists(pid_t pid) {
  struct stat info {};
  return ::stat(("/proc/" + std::to_string(pid)).c_str(), &info) == 0;
}

// Processes of the group pgid that are still running (zombies do not count).
inline int LiveGroupMembers(pid_t pgid) {
  int live = 0;
  DIR* proc = ::opendir("/proc");
  if (!proc) return -1;
  while (dirent* entry = ::readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::ifstream in(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    if (!std::getline(in, line)) continue;
    size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(line.substr(close + 2));
    char state = 0;
    pid_t parent = 0, group = 0;
    fields >> state >> parent >> group;
    if (group == pgid && state != 'Z' && state != 'X') ++live;
  }
  ::closedir(proc);
  return live;
}

// Neither the child nor anything it started is left: reaped, and nothing of its group runs.
inline void ExpectNoneLeft(pid_t pid) {
  ASSERT_GT(pid, 0);
  EXPECT_FALSE(ProcessEntryExists(pid)) << "process " << pid << " not reaped";
  // A killed grandchild dies asynchronously; give it a moment.
  int live = LiveGroupMembers(pid);
  for (int i = 0; i < 100 && live != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    live = LiveGroupMembers(pid);
  }
  EXPECT_EQ(live, 0) << "processes of group " << pid << " still run";
}

}  // namespace ProcessTestTools
