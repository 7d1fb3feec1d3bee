// Every settings test gets its own user and machine layers.
#pragma once

#include <gtest/gtest.h>

#include "platform/settings/VexaSettings.h"
#include "tests/support/ProcessTestTools.h"

using namespace veds;
using ProcessTestTools::TempDir;

// A string value as the registry holds it: UTF-16LE units and a terminating 0 unit.
inline RegValue StringValue(std::u16string_view text, uint32_t type = kRegSz) {
  RegValue value{type, {}};
  for (char16_t unit : std::u16string(text) + u'\0') value.data.insert(value.data.end(), {uint8_t(unit), uint8_t(unit >> 8)});
  return value;
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("VEXA_SETTINGS_USER_ROOT", userRoot_.c_str(), 1);
    ::setenv("VEXA_SETTINGS_MACHINE_ROOT", machineRoot_.c_str(), 1);
  }
  TempDir layers_{"settings"};
  std::string userRoot_ = (layers_.path() / "user").string(), machineRoot_ = (layers_.path() / "machine").string();
};
