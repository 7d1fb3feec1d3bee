#include <gtest/gtest.h>

#include "platform/settings/RegistryStore.h"
#include "tests/platform/settings/SettingsFixture.h"

using namespace veds;

namespace {

RegValue Dword(uint32_t number) {
  RegValue value{kRegDword, {}};
  for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<uint8_t>(number >> (8 * i)));
  return value;
}

constexpr char kWritten[] =
    "vexa-settings-key 2\nb0e2fa92 sz FFmpegPath /usr/bin/ffmpeg\n92e4ffde dword Level 3\nend 2\n";

}  // namespace

class RegistryStore : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    ASSERT_TRUE(RegOpenKey(Hive::User, u"SOFTWARE\\Vexa\\Settings\\Product", true, true, key_));
  }
  void WriteFile(std::string_view text) { std::ofstream(key_.directory + "/.vexa-values") << text; }
  std::string ReadFile() { return Slurp(key_.directory + "/.vexa-values"); }
  RegKey key_;
};

TEST_F(RegistryStore, LayerRootsComeFromTheEnvironment) {
  EXPECT_EQ(HiveRoot(Hive::User), userRoot_);
  EXPECT_EQ(HiveRoot(Hive::Machine), machineRoot_);
  TearDown();  // neither override set
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = oldConfig ? oldConfig : "";
  ::setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
  EXPECT_EQ(HiveRoot(Hive::User), "/somewhere/config/vexa/registry");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(HiveRoot(Hive::User), std::string(std::getenv("HOME")) + "/.config/vexa/registry");
  EXPECT_EQ(HiveRoot(Hive::Machine), "/etc/vexa/registry");
  if (oldConfig) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

// The file format is stored: each line with its CRC-32, the count of lines at the end.
TEST_F(RegistryStore, KeysAreDirectoriesAndValuesOneCheckedFile) {
  EXPECT_EQ(key_.directory, userRoot_ + "/SOFTWARE/Vexa/Settings/Product");
  ASSERT_EQ(RegSetValue(key_, u"FFmpegPath", StringValue(u"/usr/bin/ffmpeg")), StoreResult::kOk);
  ASSERT_EQ(RegSetValue(key_, u"Level", Dword(3)), StoreResult::kOk);
  EXPECT_EQ(ReadFile(), kWritten);
}

TEST_F(RegistryStore, NamesCompareCaseInsensitively) {
  RegKey same;
  ASSERT_TRUE(RegOpenKey(Hive::User, u"software\\VEXA\\settings\\pRODUCT", true, true, same));
  EXPECT_EQ(same.directory, key_.directory);
  ASSERT_EQ(RegSetValue(key_, u"\u00E9t\u00E9", StringValue(u"a")), StoreResult::kOk);
  ASSERT_EQ(RegSetValue(same, u"\u00C9T\u00C9", StringValue(u"b")), StoreResult::kOk);  // replaces
  std::vector<std::u16string> names;
  ASSERT_EQ(RegEnumValueNames(key_, names), StoreResult::kOk);
  EXPECT_EQ(names, std::vector<std::u16string>{u"\u00E9t\u00E9"});  // as first written
  RegValue value;
  ASSERT_EQ(RegQueryValue(key_, u"\u00C9t\u00E9", value), StoreResult::kOk);
  EXPECT_EQ(value.data, StringValue(u"b").data);
  EXPECT_TRUE(RegNamesEqual(u"\u0434\u043E\u043C", u"\u0414\u041E\u041C"));
}

TEST_F(RegistryStore, ValuesOfEveryTypeSurviveTheFile) {
  const char16_t odd[] = {u'a', 0xD800, u' ', u'%', u'\n', u'\t', 0x20AC, 0xD83D, 0xDE00, 0};
  const std::vector<std::pair<std::u16string, RegValue>> values = {
      {u"name with spaces %", StringValue(u"value with spaces\nand lines")},
      {u"expand", StringValue(u"%HOME%/bin", kRegExpandSz)},
      {u"odd", StringValue(odd)},
      {u"\U0001F600", StringValue(u"")},
      {u"dword", Dword(0xFFFFFFFF)},
      {u"qword", RegValue{kRegQword, {1, 2, 3, 4, 5, 6, 7, 0xFF}}},
      {u"binary", RegValue{kRegBinary, {0, 1, 0xFE, 0xFF, '\n'}}},
      {u"empty", RegValue{kRegBinary, {}}},
  };
  for (const auto& [name, value] : values) ASSERT_EQ(RegSetValue(key_, name, value), StoreResult::kOk);
  for (const auto& [name, value] : values) {
    RegValue back;
    ASSERT_EQ(RegQueryValue(key_, name, back), StoreResult::kOk);
    EXPECT_EQ(back.type, value.type);
    EXPECT_EQ(back.data, value.data);
  }
}

TEST_F(RegistryStore, RefusesBadNamesAndShapes) {
  RegKey key;
  for (const char16_t* path : {u"SOFTWARE\\\\Vexa", u"SOFTWARE\\..", u"SOFTWARE\\.vexa-values", u""})
    EXPECT_FALSE(RegOpenKey(Hive::User, path, true, true, key));
  const RegValue badShapes[] = {{kRegDword, {1, 2}}, {kRegSz, {'a', 0}}, {7, {}}};
  for (const RegValue& value : badShapes) EXPECT_EQ(RegSetValue(key_, u"x", value), StoreResult::kBadArgument);
  EXPECT_EQ(RegSetValue(key_, u"", Dword(1)), StoreResult::kBadArgument);
  RegKey readOnly;
  ASSERT_TRUE(RegOpenKey(Hive::User, u"SOFTWARE\\Vexa", false, false, readOnly));
  EXPECT_EQ(RegSetValue(readOnly, u"x", Dword(1)), StoreResult::kAccessDenied);
  EXPECT_EQ(RegDeleteValue(readOnly, u"x"), StoreResult::kAccessDenied);
}

TEST_F(RegistryStore, SubkeysAndDeletion) {
  RegKey key;
  ASSERT_TRUE(RegOpenKey(Hive::Machine, u"SOFTWARE\\Vexa\\Settings\\B\\Deep", true, true, key));
  ASSERT_TRUE(RegOpenKey(Hive::Machine, u"SOFTWARE\\Vexa\\Settings\\A", true, true, key));
  ASSERT_EQ(RegSetValue(key, u"v", Dword(1)), StoreResult::kOk);
  RegKey settings;
  ASSERT_TRUE(RegOpenKey(Hive::Machine, u"SOFTWARE\\Vexa\\Settings", false, false, settings));
  std::vector<std::u16string> names;
  ASSERT_TRUE(RegEnumSubkeys(settings, names));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"A", u"B"}));
  EXPECT_TRUE(RegDeleteTree(Hive::Machine, u"SOFTWARE\\Vexa\\Settings\\b"));
  ASSERT_TRUE(RegEnumSubkeys(settings, names));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"A"}));
  EXPECT_FALSE(RegDeleteTree(Hive::Machine, u"SOFTWARE\\Vexa\\Settings\\B"));
  for (const auto& entry : std::filesystem::directory_iterator(machineRoot_ + "/SOFTWARE/Vexa/Settings"))
    EXPECT_NE(entry.path().filename().string().rfind(".vexa-deleted", 0), 0u);  // nothing hidden left
  EXPECT_EQ(RegDeleteValue(key, u"V"), StoreResult::kOk);
  EXPECT_EQ(RegDeleteValue(key, u"V"), StoreResult::kNotFound);
}

TEST_F(RegistryStore, ALeftoverTemporaryFileIsRemovedByTheNextWrite) {
  const std::string leftover = key_.directory + "/.vexa-values.tmp.99999.0";
  std::ofstream(leftover) << "half a wri";
  ASSERT_EQ(RegSetValue(key_, u"b", Dword(2)), StoreResult::kOk);
  EXPECT_FALSE(std::filesystem::exists(leftover));
}

// Files written before the check field existed are read, and rewritten with it.
TEST_F(RegistryStore, FilesOfTheFirstVersionAreReadAndUpgraded) {
  WriteFile("vexa-settings-key 1\nsz FFmpegPath /usr/bin/ffmpeg\n");
  RegValue value;
  ASSERT_EQ(RegQueryValue(key_, u"ffmpegpath", value), StoreResult::kOk);
  EXPECT_EQ(value.data, StringValue(u"/usr/bin/ffmpeg").data);
  ASSERT_EQ(RegSetValue(key_, u"Level", Dword(3)), StoreResult::kOk);
  EXPECT_EQ(ReadFile(), kWritten);
}

// A type this build does not know is kept, word for word, through unrelated writes.
TEST_F(RegistryStore, ForeignLinesAreKeptVerbatim) {
  WriteFile("vexa-settings-key 1\nmulti_sz Later a%00b\n");
  RegValue value;
  EXPECT_EQ(RegQueryValue(key_, u"Later", value), StoreResult::kUnknownType);
  ASSERT_EQ(RegSetValue(key_, u"Level", Dword(3)), StoreResult::kOk);
  EXPECT_EQ(ReadFile(), "vexa-settings-key 2\nccb224d7 multi_sz Later a%00b\n92e4ffde dword Level 3\nend 2\n");
  std::vector<std::u16string> names;
  ASSERT_EQ(RegEnumValueNames(key_, names), StoreResult::kOk);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Later", u"Level"}));
}

// Damage of every kind is reported for what it may have taken, never read as a shorter value or
// as "no such value", and a damaged file is never rewritten.
struct Damage {
  const char* what;
  std::string text;
  const char16_t* name;
  StoreResult expected;
};

class RegistryStoreDamage : public RegistryStore, public ::testing::WithParamInterface<Damage> {};

TEST_P(RegistryStoreDamage, IsReportedAndNothingIsRewritten) {
  WriteFile(GetParam().text);
  RegValue value;
  EXPECT_EQ(RegQueryValue(key_, GetParam().name, value), GetParam().expected);
  std::vector<std::u16string> names;
  EXPECT_EQ(RegEnumValueNames(key_, names), StoreResult::kDamaged);
  EXPECT_EQ(RegSetValue(key_, u"Other", Dword(1)), StoreResult::kDamaged);
  EXPECT_EQ(RegDeleteValue(key_, u"Level"), StoreResult::kDamaged);
  EXPECT_EQ(ReadFile(), GetParam().text);
}

const std::string kWrittenText = kWritten;
INSTANTIATE_TEST_SUITE_P(
    Files, RegistryStoreDamage,
    ::testing::Values(
        Damage{"CutInsideTheLastLine", "vexa-settings-key 1\nsz Name beta", u"Name", StoreResult::kDamaged},
        Damage{"CutThreeBytesShort", kWrittenText.substr(0, kWrittenText.size() - 3), u"Level", StoreResult::kOk},
        Damage{"CutInsideAValue", kWrittenText.substr(0, 50), u"FFmpegPath", StoreResult::kDamaged},
        Damage{"WholeLinesLost", kWrittenText.substr(0, kWrittenText.rfind("92e4")), u"Level", StoreResult::kDamaged},
        Damage{"AlteredByte", "vexa-settings-key 2\nb0e2fa92 sz FFmpegPath /usr/bin/ffmpeG\nend 1\n", u"FFmpegPath",
               StoreResult::kDamaged},
        Damage{"DataOfAKnownTypeThatDoesNotParse", "vexa-settings-key 1\ndword Level many\n", u"Level",
               StoreResult::kDamaged},
        Damage{"Garbage", "\x7f" "ELF\x01\x02 random bytes\n", u"Level", StoreResult::kDamaged}),
    [](const auto& info) { return std::string(info.param.what); });
