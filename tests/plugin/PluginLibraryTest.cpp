// The plug-in as a host sees it: one exported entry point, LoadTranscoder.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(PluginLibrary, ExportsLoadTranscoderAlone) {
  std::string symbols;
  FILE* pipe = popen((std::string("nm -D --defined-only ") + VEXA_PLUGIN_PATH).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  for (char line[512]; fgets(line, sizeof line, pipe);) symbols += line;
  pclose(pipe);
  EXPECT_EQ(symbols.find('\n'), symbols.size() - 1) << symbols;  // one symbol
  EXPECT_NE(symbols.find(" T LoadTranscoder\n"), std::string::npos) << symbols;
}

}  // namespace
