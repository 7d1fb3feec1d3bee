// Every settings test gets its own user and machine layers.
#pragma once

#include <gtest/gtest.h>

#include "platform/settings/VexaSettings.h"
#include "tests/support/SettingsLayers.h"

using namespace veds;
using ProcessTestTools::TempDir;

// A string value as the registry holds it: UTF-16LE units and a terminating 0 unit.
inline RegValue StringValue(std::u16string_view text, uint32_t type = kRegSz) {
  RegValue value{type, {}};
  for (char16_t unit : std::u16string(text) + u'\0') value.data.insert(value.data.end(), {uint8_t(unit), uint8_t(unit >> 8)});
  return value;
}

using ProcessTestTools::ReadText;

class SettingsTest : public ::testing::Test {
 protected:
  TestSupport::SettingsLayers layers_;
};
