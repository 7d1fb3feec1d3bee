// The host's answer to the plug-in's "encoder missing" request.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/settings/VexaSettings.h"
#include "tests/support/SettingsLayers.h"
#include "tools/hostkit/HostObjects.h"

namespace fs = std::filesystem;

namespace {

// Only the encoder request is handled, and only when an executable "ffmpeg" is on the path:
// its place is stored and the plug-in is asked to look again.
TEST(HostCallback, StoresTheEncoderFoundOnThePathAndAsksForAnotherLook) {
  TestSupport::SettingsLayers settings;
  fs::path encoder = settings.root.path() / "bin" / "ffmpeg";
  fs::create_directories(encoder.parent_path());
  std::ofstream(encoder) << "#!/bin/sh\n";
  std::string savedPath = std::getenv("PATH");
  setenv("PATH", ("/nonexistent:" + encoder.parent_path().string()).c_str(), 1);
  HostCallback host;
  const struct { fs::perms perms; int32_t request, answer; std::string stored; } steps[] = {
      {fs::perms::owner_read | fs::perms::owner_write, 2, 1, ""},  // not executable: not handled
      {fs::perms::owner_all, 7, 1, ""},
      {fs::perms::owner_all, 2, 2, encoder.string()}};
  for (const auto& step : steps) {
    fs::permissions(encoder, step.perms);
    EXPECT_EQ(host.ForwardRequest(step.request), step.answer) << step.request;
    std::string stored;
    veds::ReadSettingString(u"VexaMediaServer", u"FFmpegPath", stored);
    EXPECT_EQ(stored, step.stored) << step.request;
  }
  setenv("PATH", savedPath.c_str(), 1);
}

}  // namespace
