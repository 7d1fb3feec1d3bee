#include <gtest/gtest.h>

#include "platform/settings/RegistryStore.h"
#include "tests/platform/settings/SettingsFixture.h"

using namespace veds;

namespace {

RegValue Dword(uint32_t number) {
  RegValue value;
  value.type = kRegDword;
  for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<uint8_t>(number >> (8 * i)));
  return value;
}

}  // namespace

using RegistryStore = SettingsTest;

TEST_F(RegistryStore, LayerRootsComeFromTheEnvironment) {
  EXPECT_EQ(HiveRoot(Hive::User), userRoot_);
  EXPECT_EQ(HiveRoot(Hive::Machine), machineRoot_);
  ::unsetenv("VEXA_SETTINGS_USER_ROOT");
  ::unsetenv("VEXA_SETTINGS_MACHINE_ROOT");
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  std::string saved = oldConfig ? oldConfig : "";
  ::setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
  EXPECT_EQ(HiveRoot(Hive::User), "/somewhere/config/vexa/registry");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(HiveRoot(Hive::User), std::string(std::getenv("HOME")) + "/.config/vexa/registry");
  EXPECT_EQ(HiveRoot(Hive::Machine), "/etc/vexa/registry");
  if (oldConfig) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

TEST_F(RegistryStore, KeysAreDirectoriesAndValuesOneFile) {
  RegKey key;
  EXPECT_FALSE(RegOpenKey(Hive::User, u"SOFTWARE\\Vexa\\Settings\\Product", false, false, key));
  ASSERT_TRUE(RegOpenKey(Hive::User, u"SOFTWARE\\Vexa\\Settings\\Product", true, true, key));
  EXPECT_EQ(key.directory, userRoot_ + "/SOFTWARE/Vexa/Settings/Product");
  ASSERT_TRUE(RegSetValue(key, u"FFmpegPath", StringValue(u"/usr/bin/ffmpeg")));
  ASSERT_TRUE(RegSetValue(key, u"Level", Dword(3)));
  EXPECT_EQ(Slurp(ValuesFile(userRoot_, "SOFTWARE/Vexa/Settings/Product")),
            "vexa-settings-key 1\nsz FFmpegPath /usr/bin/ffmpeg\ndword Level 3\n");
}

TEST_F(RegistryStore, NamesCompareCaseInsensitively) {
  RegKey key;
  ASSERT_TRUE(RegOpenKey(Hive::User, u"SOFTWARE\\Vexa\\Settings\\Product", true, true, key));
  RegKey same;
  ASSERT_TRUE(RegOpenKey(Hive::User, u"software\\VEXA\\settings\\pRODUCT", true, true, same));
  EXPECT_EQ(same.directory, key.directory);
  ASSERT_TRUE(RegSetValue(key, u"FFmpegPath", StringValue(u"a")));
  ASSERT_TRUE(RegSetValue(same, u"FFMPEGPATH", StringValue(u"b")));  // replaces, keeps the first name
  std::vector<std::u16string> names;
  ASSERT_TRUE(RegEnumValueNames(key, names));
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], u"FFmpegPath");
  RegValue value;
  ASSERT_TRUE(RegQueryValue(key, u"ffmpegpath", value));
  EXPECT_EQ(value.data, StringValue(u"b").data);
  // Beyond ASCII too.
  ASSERT_TRUE(RegSetValue(key, u"\u00E9t\u00E9", Dword(1)));
  EXPECT_TRUE(RegQueryValue(key, u"\u00C9T\u00C9", value));
  EXPECT_TRUE(RegNamesEqual(u"\u0434\u043E\u043C", u"\u0414\u041E\u041C"));
  EXPECT_FALSE(RegNamesEqual(u"a", u"b"));
}

TEST_F(RegistryStore, ValuesOfEveryTypeSurviveTheFile) {
  RegKey key;
  ASSERT_TRUE(RegOpenKey(Hive::User, u"SOFTWARE\\Vexa\\T", true, true, key));
  RegValue binary;
  binary.type = kRegBinary;
  binary.data = {0, 1, 0xFE, 0xFF, '\n'};
  RegValue qword;
  qword.type = kRegQword;
  qword.data = {1, 2, 3, 4, 5, 6, 7, 0xFF};
  RegValue emptyBinary;
  emptyBinary.type = kRegBinary;
  const char16_t odd[] = {u'a', 0xD800, u' ', u'%', u'\n', u'\t', 0x20AC, 0xD83D, 0xDE00, 0};
  const std::vector<std::pair<std::u16string, RegValue>> values = {
      {u"name with spaces %", StringValue(u"value with spaces\nand lines")},
      {u"expand", StringValue(u"%HOME%/bin", kRegExpandSz)},
      {u"odd", StringValue(odd)},
      {u"\U0001F600", StringValue(u"")},
      {u"dword", Dword(0xFFFFFFFF)},
      {u"qword", qword},
      {u"binary", binary},
      {u"empty", emptyBinary},
  };
  for (const auto& [name, value] : values) ASSERT_TRUE(RegSetValue(key, name, value));
  for (const auto& [name, value] : values) {
    RegValue back;
    ASSERT_TRUE(RegQueryValue(key, name, back));
    EXPECT_EQ(back.type, value.type);
    EXPECT_EQ(back.data, value.data);
  }
  std::vector<std::u16string> names;
  ASSERT_TRUE(RegEnumValueNames(key, names));
  ASSERT_EQ(names.size(), values.size());
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i], values[i].first);  // first-written order
}

TEST_F(RegistryStore, RefusesBadNamesAndShapes) {
  RegKey key;
  EXPECT_FALSE(RegOpenKey(Hive::User, u"SOFTWARE\\\\Vexa", true, true, key));
  EXPECT_FALSE(RegOpenKey(Hive::User, u"SOFTWARE\\..", true, true, key));
  EXPECT_FALSE(RegOpenKey(Hive::User, u"SOFTWARE\\.vexa-values", true, true, key));
  EXPECT_FALSE(RegOpenKey(Hive::User, u"", true, true, key));
  ASSERT_TRUE(RegOpenKey(Hive::User, u"SOFTWARE\\Vexa", true, true, key));
  EXPECT_FALSE(RegSetValue(key, u"", Dword(1)));
  RegValue shortDword;
  shortDword.type = kRegDword;
  shortDword.data = {1, 2};
  EXPECT_FALSE(RegSetValue(key, u"x", shortDword));
  RegValue unterminated;
  unterminated.type = kRegSz;
  unterminated.data = {'a', 0};
  EXPECT_FALSE(RegSetValue(key, u"x", unterminated));
  RegValue unknown;
  unknown.type = 7;
  EXPECT_FALSE(RegSetValue(key, u"x", unknown));
  RegKey readOnly;
  ASSERT_TRUE(RegOpenKey(Hive::User, u"SOFTWARE\\Vexa", false, false, readOnly));
  EXPECT_FALSE(RegSetValue(readOnly, u"x", Dword(1)));
  EXPECT_FALSE(RegDeleteValue(readOnly, u"x"));
}

TEST_F(RegistryStore, SubkeysAndDeletion) {
  RegKey key;
  ASSERT_TRUE(RegOpenKey(Hive::Machine, u"SOFTWARE\\Vexa\\Settings\\B\\Deep", true, true, key));
  ASSERT_TRUE(RegOpenKey(Hive::Machine, u"SOFTWARE\\Vexa\\Settings\\A", true, true, key));
  ASSERT_TRUE(RegSetValue(key, u"v", Dword(1)));
  RegKey settings;
  ASSERT_TRUE(RegOpenKey(Hive::Machine, u"SOFTWARE\\Vexa\\Settings", false, false, settings));
  std::vector<std::u16string> names;
  ASSERT_TRUE(RegEnumSubkeys(settings, names));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"A", u"B"}));
  EXPECT_TRUE(RegDeleteTree(Hive::Machine, u"SOFTWARE\\Vexa\\Settings\\b"));
  ASSERT_TRUE(RegEnumSubkeys(settings, names));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"A"}));
  EXPECT_FALSE(RegDeleteTree(Hive::Machine, u"SOFTWARE\\Vexa\\Settings\\B"));
  EXPECT_FALSE(std::filesystem::exists(machineRoot_ + "/SOFTWARE/Vexa/Settings/B"));
  for (const auto& entry : std::filesystem::directory_iterator(machineRoot_ + "/SOFTWARE/Vexa/Settings"))
    EXPECT_NE(entry.path().filename().string().rfind(".vexa-deleted", 0), 0u);
  EXPECT_TRUE(RegDeleteValue(key, u"V"));
  EXPECT_FALSE(RegDeleteValue(key, u"V"));
}

TEST_F(RegistryStore, ALeftoverTemporaryFileIsRemovedByTheNextWrite) {
  RegKey key;
  ASSERT_TRUE(RegOpenKey(Hive::User, u"SOFTWARE\\Vexa\\K", true, true, key));
  ASSERT_TRUE(RegSetValue(key, u"a", Dword(1)));
  const std::string leftover = key.directory + "/.vexa-values.tmp.99999.0";
  { std::ofstream(leftover) << "half a wri"; }
  RegValue value;
  ASSERT_TRUE(RegQueryValue(key, u"a", value));
  ASSERT_TRUE(RegSetValue(key, u"b", Dword(2)));
  EXPECT_FALSE(std::filesystem::exists(leftover));
}

TEST_F(RegistryStore, LinesThatDoNotParseArePassedOver) {
  RegKey key;
  ASSERT_TRUE(RegOpenKey(Hive::User, u"SOFTWARE\\Vexa\\K", true, true, key));
  {
    std::ofstream out(key.directory + "/.vexa-values");
    out << "vexa-settings-key 1\nbogus line\nsz Good yes\ndword Bad notanumber\nmulti_sz X a\ndword Big 4294967296\n";
  }
  std::vector<std::u16string> names;
  ASSERT_TRUE(RegEnumValueNames(key, names));
  EXPECT_EQ(names, std::vector<std::u16string>{u"Good"});
}
