// The plug-in as a host sees it: loaded with dlopen, reached through LoadTranscoder only.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "interfaces/public/TranscoderInterfaces.h"

namespace {

namespace NS = Stackvale::NetworkStreaming;

TEST(PluginLibrary, ExportsLoadTranscoderAlone) {
  std::string symbols;
  FILE* pipe = popen((std::string("nm -D --defined-only ") + VEXA_PLUGIN_PATH).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  for (char line[512]; fgets(line, sizeof line, pipe);) symbols += line;
  pclose(pipe);
  EXPECT_EQ(symbols.find('\n'), symbols.size() - 1) << symbols;  // one symbol
  EXPECT_NE(symbols.find(" T LoadTranscoder\n"), std::string::npos) << symbols;
}

TEST(PluginLibrary, LoadsAndAnswersThroughItsInterfaces) {
  void* library = dlopen(VEXA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto load = reinterpret_cast<LoadTranscoderFn>(dlsym(library, "LoadTranscoder"));
  NS::ITranscoder* transcoder = load ? load() : nullptr;
  ASSERT_NE(transcoder, nullptr);
  NS::IUpnpTranscoder* upnp = nullptr;
  ASSERT_EQ(transcoder->GetUpnpTranscoder(&upnp), 0);
  EXPECT_EQ(upnp->AddRef(), 2);  // one count behind every face
  EXPECT_EQ(transcoder->Release(), 1);
  EXPECT_EQ(upnp->Release(), 0);
  dlclose(library);
}

}  // namespace
