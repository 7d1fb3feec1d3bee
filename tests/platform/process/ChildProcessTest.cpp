#include <gtest/gtest.h>

#include "platform/process/ChildProcess.h"
#include "tests/support/ProcessTestTools.h"

using namespace VexaProcess;
using namespace ProcessTestTools;

namespace {

std::string ReadAll(CChildProcess& child, ProcessStream stream) {
  std::string all;
  uint8_t buffer[4096];
  ReadyStreams ready;
  for (int idle = 0; idle < 300 && child.WaitReadable(100, true, ready);) {  // 30 s without a byte: hung
    size_t count = 0;
    ReadResult result = child.Read(stream, buffer, sizeof buffer, count);
    if (result == kReadEnd || result == kReadFailed) break;
    idle += result == kReadNothing;
    all.append(reinterpret_cast<char*>(buffer), count);
  }
  return all;
}

TEST(ChildProcess, ArgumentsArriveUnchangedAndBothStreamsComeBack) {
  std::string dir = MakeTempDir("args 'quoted' \xC3\xA9t\xC3\xA9 ");
  std::string program = WriteScript(dir, "echo \xE2\x9C\x93", R"(
for a in "$@"; do printf '[%s]' "$a"; done
read line; printf 'error side, stdin gave "%s"' "$line" >&2
)");
  CChildProcess child;
  ASSERT_TRUE(child.Start({Wide(program), u"two words", u"it's \"q\"", u"\u00e9\U0001F3AC", u"$HOME;*"}));
  EXPECT_EQ(ReadAll(child, kStandardOutput), "[two words][it's \"q\"][\xC3\xA9\xF0\x9F\x8E\xAC][$HOME;*]");
  EXPECT_EQ(ReadAll(child, kStandardError), "error side, stdin gave \"\"");

  CChildProcess missing, folder, loneSurrogate;
  EXPECT_FALSE(missing.Start({Wide(dir + "/no such program")}));
  EXPECT_FALSE(folder.Start({Wide(dir)}));
  EXPECT_FALSE(loneSurrogate.Start({Wide(program), std::u16string(1, char16_t(0xD800))}));
  EXPECT_FALSE(CChildProcess::ProgramFileExists(Wide(dir)));
  EXPECT_TRUE(CChildProcess::ProgramFileExists(Wide(program)));
}

// Terminate reaches what the child started too, and the pipes then end: no writer is left.
TEST(ChildProcess, TerminateKillsTheWholeGroupAndReapsTheChild) {
  std::string dir = MakeTempDir("group");
  std::string program = WriteScript(dir, "parent", "echo $$ > \"$1\"\nsleep 30 &\nsleep 30\n");
  CChildProcess child;
  ASSERT_TRUE(child.Start({Wide(program), Wide(dir + "/pid")}));
  pid_t pid = ReadPid(dir + "/pid");
  for (int i = 0; i < 3000 && LiveGroupMembers(pid) < 3; ++i)  // up to 30 s: a slow start is no fault
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(LiveGroupMembers(pid), 3);
  EXPECT_FALSE(child.HasExited());
  child.Terminate();
  EXPECT_TRUE(child.WasTerminated());
  EXPECT_TRUE(child.HasExited());
  ExpectNoneLeft(pid);
  EXPECT_EQ(ReadAll(child, kStandardOutput), "");
  child.Terminate();  // again: nothing to do, nobody else signalled
}

TEST(ChildProcess, ChildEndingOnItsOwnIsReapedWithWhatItLeft) {
  std::string dir = MakeTempDir("ends");
  std::string program = WriteScript(dir, "p", "echo $$ > \"$1\"\nsleep 30 &\nexit 3\n");
  CChildProcess child;
  ASSERT_TRUE(child.Start({Wide(program), Wide(dir + "/pid")}));
  pid_t pid = ReadPid(dir + "/pid");
  bool exited = false;
  for (int i = 0; i < 3000 && !(exited = child.HasExited()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(exited);
  ExpectNoneLeft(pid);
}

}  // namespace
