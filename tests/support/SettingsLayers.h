// User and machine settings layers of a test's own: two folders in a fresh temporary folder,
// named to the settings store through the environment while the object lives on.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/settings/VexaSettings.h"
#include "tests/support/ProcessTestTools.h"

namespace TestSupport {

struct SettingsLayers {
  SettingsLayers() {
    ::setenv("VEXA_SETTINGS_USER_ROOT", userRoot.c_str(), 1);
    ::setenv("VEXA_SETTINGS_MACHINE_ROOT", machineRoot.c_str(), 1);
  }
  // Where the download-manager library is looked for, as the desktop's installer records it.
  void SetInstallDir(const std::string& dir) {
    veds::SettingsPtr key;
    ASSERT_TRUE(veds::OpenSettings(false, true, u"DesktopService", false, key));
    ASSERT_TRUE(key->SetString(u"InstallDir", dir.c_str()));
  }
  ProcessTestTools::TempDir root{"settings"};
  std::string userRoot = (root.path() / "user").string(), machineRoot = (root.path() / "machine").string();
};

}  // namespace TestSupport
