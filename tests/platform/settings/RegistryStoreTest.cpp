#include "tests/platform/settings/SettingsFixture.h"

static RegValue Dword(uint32_t n) { return RegValue{kRegDword, {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)}}; }

// The stored format: each line with its CRC-32, the count of lines at the end.
static const std::string kWritten =
    "vexa-settings-key 2\nb0e2fa92 sz FFmpegPath /usr/bin/ffmpeg\n92e4ffde dword Level 3\nend 2\n";

class RegistryStore : public SettingsTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegOpenKey(Hive::User, u"SOFTWARE\\Vexa\\Settings\\Product", true, true, key_));
  }
  void WriteFile(std::string_view text) { std::ofstream(key_.directory + "/.vexa-values") << text; }
  std::string ReadFile() { return ReadText(key_.directory + "/.vexa-values"); }
  std::vector<std::u16string> Names() {
    std::vector<std::u16string> names;
    return RegEnumValueNames(key_, names) == StoreResult::kOk ? names : std::vector<std::u16string>{u"(failed)"};
  }
  RegKey key_;
};

#ifndef _WIN32
// Without the two overrides every test here sets, the layers live where the desktop keeps them.
TEST_F(RegistryStore, LayerRootsComeFromTheEnvironment) {
  ::unsetenv("VEXA_SETTINGS_USER_ROOT");
  ::unsetenv("VEXA_SETTINGS_MACHINE_ROOT");
  ::setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
  EXPECT_EQ(HiveRoot(Hive::User), "/somewhere/config/vexa/registry");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(HiveRoot(Hive::User), std::string(std::getenv("HOME")) + "/.config/vexa/registry");
  EXPECT_EQ(HiveRoot(Hive::Machine), "/etc/vexa/registry");
}
#endif

// Names compare without case (beyond ASCII) and keep the spelling first written; values of every
// type survive the store byte for byte, a large one whole.
TEST_F(RegistryStore, ValuesOfEveryTypeSurviveTheFileUnderCaseBlindNames) {
  ASSERT_EQ(RegSetValue(key_, u"FFmpegPath", StringValue(u"/usr/bin/ffmpeg")), StoreResult::kOk);
  ASSERT_EQ(RegSetValue(key_, u"Level", Dword(3)), StoreResult::kOk);
#ifndef _WIN32
  EXPECT_EQ(key_.directory, layers_.userRoot + "/SOFTWARE/Vexa/Settings/Product");
  EXPECT_EQ(ReadFile(), kWritten);
#endif
  RegKey same;
  ASSERT_TRUE(RegOpenKey(Hive::User, u"software\\VEXA\\settings\\pRODUCT", true, true, same));
  ASSERT_EQ(RegSetValue(same, u"\u00C9T\u00C9", StringValue(u"b")), StoreResult::kOk);
  ASSERT_EQ(RegSetValue(key_, u"\u00E9t\u00E9", StringValue(u"a")), StoreResult::kOk);  // replaces
  EXPECT_EQ(Names(), (std::vector<std::u16string>{u"FFmpegPath", u"Level", u"\u00C9T\u00C9"}));
  EXPECT_TRUE(RegNamesEqual(u"\u0434\u043E\u043C", u"\u0414\u041E\u041C"));
  std::vector<uint8_t> large(300000);
  for (size_t i = 0; i < large.size(); ++i) large[i] = uint8_t(i * 7 + (i >> 8));
  const char16_t odd[] = {u'a', 0xD800, u' ', u'%', u'\n', u'\t', 0x20AC, 0xD83D, 0xDE00, 0};
  const std::pair<std::u16string, RegValue> values[] = {
      {u"\u00C9t\u00E9", StringValue(u"a")}, {u"name with spaces %", StringValue(u"value with\nlines")},
      {u"expand", StringValue(u"%HOME%/bin", kRegExpandSz)}, {u"odd", StringValue(odd)},
      {u"\U0001F600", StringValue(u"")}, {u"dword", Dword(0xFFFFFFFF)},
      {u"qword", RegValue{kRegQword, {1, 2, 3, 4, 5, 6, 7, 0xFF}}}, {u"binary", RegValue{kRegBinary, {0, 0xFF, '\n'}}},
      {u"empty", RegValue{kRegBinary, {}}}, {u"large", RegValue{kRegBinary, large}}};
  for (const auto& [name, value] : values) ASSERT_EQ(RegSetValue(key_, name, value), StoreResult::kOk);
  for (const auto& [name, value] : values) {
    RegValue back;
    EXPECT_TRUE(RegQueryValue(key_, name, back) == StoreResult::kOk && back.type == value.type && back.data == value.data);
  }
}

TEST_F(RegistryStore, RefusesBadNamesAndShapes) {
  RegKey key;
  for (const char16_t* path : {u"SOFTWARE\\\\Vexa", u"", u"SOFTWARE\\"})
    EXPECT_FALSE(RegOpenKey(Hive::User, path, true, true, key));
#ifndef _WIN32  // names of the files on disk; the registry takes them as any other
  for (const char16_t* path : {u"SOFTWARE\\..", u"SOFTWARE\\.vexa-values"})
    EXPECT_FALSE(RegOpenKey(Hive::User, path, true, true, key));
#endif
  for (const RegValue& value : {RegValue{kRegDword, {1, 2}}, RegValue{kRegSz, {'a', 0}}, RegValue{7, {}}})
    EXPECT_EQ(RegSetValue(key_, u"x", value), StoreResult::kBadArgument);
  EXPECT_EQ(RegSetValue(key_, u"", Dword(1)), StoreResult::kBadArgument);
  ASSERT_TRUE(RegOpenKey(Hive::User, u"SOFTWARE\\Vexa", false, false, key));
  EXPECT_EQ(RegSetValue(key, u"x", Dword(1)), StoreResult::kAccessDenied);
  EXPECT_EQ(RegDeleteValue(key, u"x"), StoreResult::kAccessDenied);
}

#ifndef _WIN32  // the values file of the store on disk
// Files written before the check field existed are read and rewritten with it; a type this build
// does not know is kept word for word.
TEST_F(RegistryStore, OlderFilesAreUpgradedKeepingForeignLines) {
  WriteFile("vexa-settings-key 1\nsz FFmpegPath /usr/bin/ffmpeg\n");
  RegValue value;
  ASSERT_EQ(RegQueryValue(key_, u"ffmpegpath", value), StoreResult::kOk);
  EXPECT_EQ(value.data, StringValue(u"/usr/bin/ffmpeg").data);
  ASSERT_EQ(RegSetValue(key_, u"Level", Dword(3)), StoreResult::kOk);
  EXPECT_EQ(ReadFile(), kWritten);
  WriteFile("vexa-settings-key 1\nmulti_sz Later a%00b\n");
  EXPECT_EQ(RegQueryValue(key_, u"Later", value), StoreResult::kUnknownType);
  ASSERT_EQ(RegSetValue(key_, u"Level", Dword(3)), StoreResult::kOk);
  EXPECT_EQ(ReadFile(), "vexa-settings-key 2\nccb224d7 multi_sz Later a%00b\n92e4ffde dword Level 3\nend 2\n");
  EXPECT_EQ(Names(), (std::vector<std::u16string>{u"Later", u"Level"}));
}

// Damage of every kind is reported for what it may have taken, never read as a shorter value or
// as "no such value", and a damaged file is never rewritten.
TEST_F(RegistryStore, DamageIsReportedAndNothingIsRewritten) {
  const struct {
    std::string text;
    const char16_t* name;
    StoreResult query;
  } files[] = {
      {"vexa-settings-key 1\nsz Name beta", u"Name", StoreResult::kDamaged},           // cut inside the last line
      {kWritten.substr(0, kWritten.size() - 3), u"Level", StoreResult::kOk},           // three bytes short
      {kWritten.substr(0, 50), u"FFmpegPath", StoreResult::kDamaged},                  // cut inside a value
      {kWritten.substr(0, kWritten.rfind("92e4")), u"Level", StoreResult::kDamaged},  // whole lines lost
      {"vexa-settings-key 2\nb0e2fa92 sz FFmpegPath /usr/bin/ffmpeG\nend 1\n", u"FFmpegPath", StoreResult::kDamaged},
      {"vexa-settings-key 1\ndword Level many\n", u"Level", StoreResult::kDamaged},  // a known type that does not parse
      {"\x7f" "ELF\x01\x02 random bytes\n", u"Level", StoreResult::kDamaged}};
  for (const auto& file : files) {
    SCOPED_TRACE(file.text);
    WriteFile(file.text);
    RegValue value;
    EXPECT_EQ(RegQueryValue(key_, file.name, value), file.query);
    EXPECT_EQ(Names(), std::vector<std::u16string>{u"(failed)"});
    EXPECT_EQ(RegSetValue(key_, u"Other", Dword(1)), StoreResult::kDamaged);
    EXPECT_EQ(RegDeleteValue(key_, u"Level"), StoreResult::kDamaged);
    EXPECT_EQ(ReadFile(), file.text);
  }
}
#endif
