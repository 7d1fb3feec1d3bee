// User and machine settings layers of a test's own, named to the settings store through the
// environment while the object lives on: two folders in a fresh temporary folder, or on Windows
// two keys below HKEY_CURRENT_USER\SOFTWARE\VexaTest\<process>-<n>, deleted at the end.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/settings/VexaSettings.h"
#include "tests/support/ProcessTestTools.h"

namespace TestSupport {

struct SettingsLayers {
  SettingsLayers() {
    ProcessTestTools::SetEnvironment("VEXA_SETTINGS_USER_ROOT", userRoot.c_str());
    ProcessTestTools::SetEnvironment("VEXA_SETTINGS_MACHINE_ROOT", machineRoot.c_str());
  }
#ifdef _WIN32
  ~SettingsLayers() {
    // The test's own key, deleted through the store with the user layer moved to its parent;
    // a test that wrote nothing made no key.
    ProcessTestTools::SetEnvironment("VEXA_SETTINGS_USER_ROOT", kTestRoot);
    veds::RegKey made;
    if (veds::RegOpenKey(veds::Hive::User, ProcessTestTools::Wide(own), false, false, made)) {
      EXPECT_TRUE(veds::RegDeleteTree(veds::Hive::User, ProcessTestTools::Wide(own)));
    }
    ProcessTestTools::UnsetEnvironment("VEXA_SETTINGS_USER_ROOT");
    ProcessTestTools::UnsetEnvironment("VEXA_SETTINGS_MACHINE_ROOT");
  }
#endif
  // Where the download-manager library is looked for, as the desktop's installer records it.
  void SetInstallDir(const std::string& dir) {
    veds::SettingsPtr key;
    ASSERT_TRUE(veds::OpenSettings(false, true, u"DesktopService", false, key));
    ASSERT_TRUE(key->SetString(u"InstallDir", dir.c_str()));
  }
#ifdef _WIN32
  static constexpr char kTestRoot[] = "SOFTWARE\\VexaTest";
  std::string own = ProcessTestTools::UniqueName("settings");
  std::string userRoot = std::string(kTestRoot) + "\\" + own + "\\user";
  std::string machineRoot = std::string(kTestRoot) + "\\" + own + "\\machine";
#else
  ProcessTestTools::TempDir root{"settings"};
  std::string userRoot = (root.path() / "user").string(), machineRoot = (root.path() / "machine").string();
#endif
};

}  // namespace TestSupport
