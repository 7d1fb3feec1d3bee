// Settings layers of a test's own for the download-manager tests, InstallDir set only when asked.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/settings/VexaSettings.h"
#include "tests/support/ProcessTestTools.h"

namespace DownloadManagerTest {

struct Settings {
  ProcessTestTools::TempDir root{"dm-settings"};
  Settings() {
    ::setenv("VEXA_SETTINGS_USER_ROOT", (root.path() / "user").c_str(), 1);
    ::setenv("VEXA_SETTINGS_MACHINE_ROOT", (root.path() / "machine").c_str(), 1);
  }
  void SetInstallDir(const std::string& dir) {
    veds::SettingsPtr key;
    ASSERT_TRUE(veds::OpenSettings(false, true, u"DesktopService", false, key));
    ASSERT_TRUE(key->SetString(u"InstallDir", dir.c_str()));
  }
};

}  // namespace DownloadManagerTest
