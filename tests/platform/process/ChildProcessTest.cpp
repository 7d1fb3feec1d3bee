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
  TempDir dir("args 'quoted' \xC3\xA9t\xC3\xA9 ");
  std::string program = WriteScript(dir.path(), "echo \xE2\x9C\x93", R"(
for a in "$@"; do printf '[%s]' "$a"; done
read line; printf 'error side, stdin gave "%s"' "$line" >&2
)");
  CChildProcess child, refused;
  ASSERT_TRUE(child.Start({Wide(program), u"two words", u"it's \"q\"", u"\u00e9\U0001F3AC", u"$HOME;*"}));
  EXPECT_EQ(ReadAll(child, kStandardOutput), "[two words][it's \"q\"][\xC3\xA9\xF0\x9F\x8E\xAC][$HOME;*]");
  EXPECT_EQ(ReadAll(child, kStandardError), "error side, stdin gave \"\"");
  for (const auto& arguments : {std::vector<std::u16string>{dir.Wide("no such program")}, {dir.Wide("")},
                                {Wide(program), std::u16string(1, char16_t(0xD800))}})  // a missing program, a folder, a lone surrogate
    EXPECT_FALSE(refused.Start(arguments));
  EXPECT_TRUE(!CChildProcess::ProgramFileExists(dir.Wide("")) && CChildProcess::ProgramFileExists(Wide(program)));
}

}  // namespace
