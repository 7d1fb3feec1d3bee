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

// The echo child under a name with blanks, quotes and non-ASCII, as an encoder's path may be.
std::u16string CopyOfEcho(const TempDir& dir) {
  std::filesystem::path echo = std::filesystem::absolute(VEXA_ARGUMENT_ECHO);
  const std::u16string copy = dir.Wide("echo \xE2\x9C\x93" + echo.extension().string());
  std::filesystem::copy_file(echo, std::filesystem::path(copy));
  return copy;
}

// Whatever the system does with an argument vector (a command line to be split again on
// Windows), the child sees the same arguments: blanks, quotes, backslash runs before quotes
// and at the end, empty arguments, shell and non-ASCII characters.
TEST(ChildProcess, ArgumentsArriveUnchangedAndBothStreamsComeBack) {
  TempDir dir("args 'quoted' \xC3\xA9t\xC3\xA9 ");
  const std::u16string program = CopyOfEcho(dir);
  const std::vector<std::u16string> arguments = {
      u"two words", u"it's \"q\"", u"\u00e9\U0001F3AC", u"$HOME;*", u"", u"trailing\\", u"blank then \\\\",
      u"a\\\\\"b", u"\\\\server\\share", u"tab\there", u"\"", u"\\\"", u"  ", u"x\"\"y", u"%PATH%^&|<>"};
  std::vector<std::u16string> command = {program};
  command.insert(command.end(), arguments.begin(), arguments.end());
  std::string expected;
  for (const std::u16string& argument : arguments) {
    std::string utf8;
    ASSERT_TRUE(CChildProcess::ToSystemText(argument, utf8));
    expected += "[" + utf8 + "]";
  }
  CChildProcess child, refused;
  ASSERT_TRUE(child.Start(command));
  EXPECT_EQ(ReadAll(child, kStandardOutput), expected);
  EXPECT_EQ(ReadAll(child, kStandardError), "error side, stdin gave \"\"");
  EXPECT_TRUE(WaitFor([&] { return child.HasExited(); }));
  EXPECT_EQ(child.GetExitState(), kExitedCleanly);
  for (const auto& bad : {std::vector<std::u16string>{dir.Wide("no such program")}, {dir.Wide("")},
                          {program, std::u16string(1, char16_t(0xD800))}})  // a missing program, a folder, a lone surrogate
    EXPECT_FALSE(refused.Start(bad));
  EXPECT_TRUE(!CChildProcess::ProgramFileExists(dir.Wide("")) && CChildProcess::ProgramFileExists(program));
}

}  // namespace
