// What the download-manager tests share: settings layers of their own with InstallDir set or
// not.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/settings/VexaSettings.h"
#include "tests/support/ProcessTestTools.h"

namespace DownloadManagerTest {

class InstallDirSetting {
 public:
  InstallDirSetting() {
    ::setenv("VEXA_SETTINGS_USER_ROOT", (m_root.path() / "user").c_str(), 1);
    ::setenv("VEXA_SETTINGS_MACHINE_ROOT", (m_root.path() / "machine").c_str(), 1);
  }
  ~InstallDirSetting() {
    ::unsetenv("VEXA_SETTINGS_USER_ROOT");
    ::unsetenv("VEXA_SETTINGS_MACHINE_ROOT");
  }
  void Set(const std::string& dir) {
    veds::SettingsPtr settings;
    ASSERT_TRUE(veds::OpenSettings(false, true, u"DesktopService", false, settings));
    ASSERT_TRUE(settings->SetString(u"InstallDir", dir.c_str()));
  }

 private:
  ProcessTestTools::TempDir m_root{"dm-settings"};
};

}  // namespace DownloadManagerTest
