// Every settings test gets its own user and machine layers.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/settings/RegistryStore.h"
#include "tests/platform/files/TestDir.h"

// A string value as the registry holds it: UTF-16LE units and a terminating 0 unit.
inline veds::RegValue StringValue(std::u16string_view text, uint32_t type = veds::kRegSz) {
  veds::RegValue value;
  value.type = type;
  for (char16_t unit : text) {
    value.data.push_back(static_cast<uint8_t>(unit & 0xFF));
    value.data.push_back(static_cast<uint8_t>(unit >> 8));
  }
  value.data.push_back(0);
  value.data.push_back(0);
  return value;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    userRoot_ = (layers_.path() / "user").string();
    machineRoot_ = (layers_.path() / "machine").string();
    ::setenv("VEXA_SETTINGS_USER_ROOT", userRoot_.c_str(), 1);
    ::setenv("VEXA_SETTINGS_MACHINE_ROOT", machineRoot_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("VEXA_SETTINGS_USER_ROOT");
    ::unsetenv("VEXA_SETTINGS_MACHINE_ROOT");
  }
  std::string ValuesFile(const std::string& root, const std::string& keyPath) const {
    return root + "/" + keyPath + "/.vexa-values";
  }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  TempDir layers_;
  std::string userRoot_;
  std::string machineRoot_;
};
