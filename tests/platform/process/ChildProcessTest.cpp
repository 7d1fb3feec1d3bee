#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/process/ChildProcess.h"
#include "tests/platform/process/ProcessTestTools.h"

using namespace VexaProcess;
using namespace ProcessTestTools;

namespace {

// Everything the child writes on one stream until the stream ends.
std::string ReadAll(CChildProcess& child, ProcessStream stream) {
  std::string all;
  uint8_t buffer[4096];
  for (int idle = 0; idle < 500;) {
    ReadyStreams ready;
    if (!child.WaitReadable(10, true, ready)) break;
    size_t count = 0;
    ReadResult result = child.Read(stream, buffer, sizeof buffer, count);
    if (result == kReadEnd || result == kReadFailed) break;
    if (result == kReadNothing) ++idle;
    all.append(reinterpret_cast<char*>(buffer), count);
  }
  return all;
}

TEST(ChildProcess, ArgumentsArriveUnchangedAndBothStreamsComeBack) {
  std::string dir = MakeTempDir("args 'quoted' \xC3\xA9t\xC3\xA9 ");
  std::string program = WriteScript(dir, "echo args \xE2\x9C\x93", R"(
for a in "$@"; do printf '[%s]' "$a"; done
printf 'to error' >&2
read line && printf 'stdin gave %s' "$line" >&2
exit 0
)");
  CChildProcess child;
  ASSERT_TRUE(child.Start({Wide(program), u"two words", u"it's \"q\"", u"\u00e9\U0001F3AC", u"$HOME;*"}));
  EXPECT_EQ(ReadAll(child, kStandardOutput), "[two words][it's \"q\"][\xC3\xA9\xF0\x9F\x8E\xAC][$HOME;*]");
  EXPECT_EQ(ReadAll(child, kStandardError), "to error");  // standard input is empty
  for (int i = 0; i < 200 && !child.HasExited(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(child.HasExited());
}

TEST(ChildProcess, ProgramsThatCannotRunFailToStart) {
  std::string dir = MakeTempDir("missing");
  CChildProcess missing;
  EXPECT_FALSE(missing.Start({Wide(dir + "/no such program")}));
  EXPECT_TRUE(missing.HasExited());
  CChildProcess folder;
  EXPECT_FALSE(folder.Start({Wide(dir)}));
  EXPECT_FALSE(CChildProcess::ProgramFileExists(Wide(dir)));
  EXPECT_FALSE(CChildProcess::ProgramFileExists(Wide(dir + "/no such program")));
  EXPECT_FALSE(CChildProcess::ProgramFileExists(u""));
  EXPECT_TRUE(CChildProcess::ProgramFileExists(Wide(WriteScript(dir, "x", "exit 0\n"))));
  CChildProcess loneSurrogate;
  EXPECT_FALSE(loneSurrogate.Start({u"/bin/true", std::u16string(1, char16_t(0xD800))}));
}

// A child that started a grandchild: terminating reaches both, and the pipes report their end
// because no writer is left.
TEST(ChildProcess, TerminateKillsTheWholeGroupAndReapsTheChild) {
  std::string dir = MakeTempDir("group");
  std::string program = WriteScript(dir, "parent", "echo $$ > \"$1\"\nsleep 30 &\nsleep 30\n");
  auto child = std::make_unique<CChildProcess>();
  ASSERT_TRUE(child->Start({Wide(program), Wide(dir + "/pid")}));
  pid_t pid = ReadPid(dir + "/pid");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(LiveGroupMembers(pid), 3);
  EXPECT_FALSE(child->HasExited());
  auto before = std::chrono::steady_clock::now();
  child->Terminate();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  EXPECT_TRUE(child->WasTerminated());
  EXPECT_TRUE(child->HasExited());
  ExpectNoneLeft(pid);
  EXPECT_EQ(ReadAll(*child, kStandardOutput), "");
  child->Terminate();  // a second time does nothing
  child.reset();
}

TEST(ChildProcess, DestroyingARunningChildLeavesNothingBehind) {
  std::string dir = MakeTempDir("destroy");
  std::string program = WriteScript(dir, "p", "echo $$ > \"$1\"\nexec sleep 30\n");
  pid_t pid;
  {
    CChildProcess child;
    ASSERT_TRUE(child.Start({Wide(program), Wide(dir + "/pid")}));
    pid = ReadPid(dir + "/pid");
  }
  ExpectNoneLeft(pid);
}

// What it left running when it ended on its own is swept away when its end is noticed.
TEST(ChildProcess, ChildEndingOnItsOwnIsReapedWithWhatItLeft) {
  std::string dir = MakeTempDir("ends");
  std::string program = WriteScript(dir, "p", "echo $$ > \"$1\"\nsleep 30 &\nexit 3\n");
  CChildProcess child;
  ASSERT_TRUE(child.Start({Wide(program), Wide(dir + "/pid")}));
  pid_t pid = ReadPid(dir + "/pid");
  bool exited = false;
  for (int i = 0; i < 300 && !(exited = child.HasExited()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(exited);
  ExpectNoneLeft(pid);
}

// The reader keeps its descriptors while another thread kills the child: it sees the end of
// the stream, never a closed or reused descriptor.
TEST(ChildProcess, TerminateWhileAnotherThreadReads) {
  std::string dir = MakeTempDir("race");
  std::string program = WriteScript(dir, "p", "while :; do echo data; sleep 0.01; done\n");
  for (int round = 0; round < 5; ++round) {
    CChildProcess child;
    ASSERT_TRUE(child.Start({Wide(program)}));
    std::string seen;
    std::thread reader([&] { seen = ReadAll(child, kStandardOutput); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + 20 * round));
    child.Terminate();
    reader.join();
    EXPECT_NE(seen.find("data\n"), std::string::npos);
  }
}

}  // namespace
