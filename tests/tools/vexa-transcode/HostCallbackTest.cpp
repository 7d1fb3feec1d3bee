// The host's answer to the plug-in's "encoder missing" request.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/settings/VexaSettings.h"
#include "tools/vexa-transcode/HostObjects.h"

namespace fs = std::filesystem;

namespace {

class HostCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("vexa-host-callback-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "bin");
    setenv("VEXA_SETTINGS_USER_ROOT", (root / "user").c_str(), 1);
    setenv("VEXA_SETTINGS_MACHINE_ROOT", (root / "machine").c_str(), 1);
    const char* path = std::getenv("PATH");
    savedPath = path ? path : "";
  }
  void TearDown() override {
    setenv("PATH", savedPath.c_str(), 1);
    fs::remove_all(root);
  }
  std::string StoredPath() {
    std::string value;
    veds::ReadSettingString(u"VexaMediaServer", u"FFmpegPath", value);
    return value;
  }

  fs::path root;
  std::string savedPath;
};

TEST_F(HostCallbackTest, StoresTheEncoderFoundOnThePathAndAsksForAnotherLook) {
  fs::path encoder = root / "bin" / "ffmpeg";
  std::ofstream(encoder) << "#!/bin/sh\n";
  fs::permissions(encoder, fs::perms::owner_all);
  setenv("PATH", ("/nonexistent:" + (root / "bin").string()).c_str(), 1);

  HostCallback host;
  EXPECT_EQ(host.ForwardRequest(7), 1);  // only the encoder request is handled
  EXPECT_EQ(StoredPath(), "");
  EXPECT_EQ(host.ForwardRequest(2), 2);
  EXPECT_EQ(StoredPath(), encoder.string());
}

TEST_F(HostCallbackTest, NothingOnThePathIsNotHandled) {
  fs::path notExecutable = root / "bin" / "ffmpeg";
  std::ofstream(notExecutable) << "data";
  fs::permissions(notExecutable, fs::perms::owner_read | fs::perms::owner_write);
  setenv("PATH", (root / "bin").c_str(), 1);
  HostCallback host;
  EXPECT_EQ(host.ForwardRequest(2), 1);
  EXPECT_EQ(StoredPath(), "");
}

}  // namespace
