// The plug-in as a host sees it: loaded with dlopen, reached through LoadTranscoder only.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "interfaces/public/TranscoderInterfaces.h"

namespace {

namespace NS = Stackvale::NetworkStreaming;

std::string CommandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char line[512];
  while (fgets(line, sizeof line, pipe)) output += line;
  pclose(pipe);
  return output;
}

TEST(PluginLibrary, ExportsLoadTranscoderAlone) {
  std::string symbols = CommandOutput(std::string("nm -D --defined-only ") + VEXA_PLUGIN_PATH);
  ASSERT_FALSE(symbols.empty());
  size_t lines = 0;
  for (char c : symbols) lines += c == '\n';
  EXPECT_EQ(lines, 1u) << symbols;
  EXPECT_NE(symbols.find(" T LoadTranscoder\n"), std::string::npos) << symbols;
}

class Request : public NS::IClientRequest {
 public:
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  const char* GetClientId() override { return "ps3-1"; }
  const char* GetRemoteAddress() override { return "127.0.0.1"; }
  const char* GetHeader(int32_t which) override {
    return which == 0 ? "PLAYSTATION 3" : nullptr;
  }
};

class Item : public NS::IMediaItem {
 public:
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  const char* GetTitle() override { return "t"; }
  const char* GetClass() override { return "object.item.videoItem"; }
  int64_t GetSize() override { return 0; }
  const char16_t* GetSourcePath() override { return u"/nonexistent/movie.mkv"; }
  int64_t GetDurationMs() override { return -1; }
  const char* GetSourceMimeType() override { return nullptr; }
};

TEST(PluginLibrary, HostDrivesTheTranscoderThroughItsInterfaces) {
  void* library = dlopen(VEXA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto load = reinterpret_cast<LoadTranscoderFn>(dlsym(library, "LoadTranscoder"));
  ASSERT_NE(load, nullptr);

  NS::ITranscoder* transcoder = load();
  ASSERT_NE(transcoder, nullptr);
  NS::ITranscoder* second = load();  // every call makes a new object
  EXPECT_NE(second, transcoder);
  EXPECT_EQ(second->Release(), 0);

  EXPECT_EQ(transcoder->GetUpnpTranscoder(nullptr), -2);
  NS::IUpnpTranscoder* upnp = nullptr;
  ASSERT_EQ(transcoder->GetUpnpTranscoder(&upnp), 0);
  ASSERT_NE(upnp, nullptr);
  EXPECT_EQ(transcoder->AddRef(), 2);
  EXPECT_EQ(upnp->AddRef(), 3);  // one count behind every face
  EXPECT_EQ(upnp->Release(), 2);
  EXPECT_EQ(transcoder->SetClientProfile("ps3-1", 4), 0);

  Request request;
  Item item;
  NS::ResourceOffer* offers = nullptr;
  uint32_t count = 0;
  int32_t offered = upnp->OfferResources(&request, &item, &offers, &count);
  if (offered == 0) {
    // Job kinds that accept the item make offers; whatever they are, they are well formed.
    for (uint32_t i = 0; i < count; ++i) {
      ASSERT_EQ(offers[i].count, 2u);
      EXPECT_STREQ(offers[i].attributes[0].name, "res@protocolInfo");
    }
    upnp->FreeResourceList(offers, count);
  } else {
    EXPECT_EQ(offered, 15);
  }
  EXPECT_EQ(upnp->OfferResources(nullptr, &item, &offers, &count), 2);

  NS::ITranscoderJob* job = nullptr;
  EXPECT_EQ(upnp->CreateJob(u"/nonexistent/movie.mkv", "video/MP2T", 7, nullptr, &job), 2);
  EXPECT_EQ(job, nullptr);

  EXPECT_EQ(transcoder->Release(), 1);
  EXPECT_EQ(transcoder->Release(), 0);
  dlclose(library);
}

}  // namespace
