#include <gtest/gtest.h>

#include "platform/settings/VexaSettings.h"
#include "tests/platform/settings/SettingsFixture.h"

using namespace veds;

namespace {

// Writes a value straight into a layer, as another program (or an installer) would.
void Put(Hive hive, std::u16string_view path, std::u16string_view name, const RegValue& value) {
  RegKey key;
  ASSERT_TRUE(RegOpenKey(hive, path, true, true, key));
  ASSERT_EQ(RegSetValue(key, name, value), StoreResult::kOk);
}

constexpr char16_t kProductKey[] = u"SOFTWARE\\Vexa\\Settings\\VexaMediaServer";

}  // namespace

using Settings = SettingsTest;

TEST_F(Settings, ReadSettingStringPrefersTheUserLayer) {
  Put(Hive::Machine, kProductKey, u"FFmpegPath", StringValue(u"/opt/machine/ffmpeg"));
  std::string path;
  ASSERT_TRUE(ReadSettingString(u"VexaMediaServer", u"FFmpegPath", path));
  EXPECT_EQ(path, "/opt/machine/ffmpeg");  // only the machine layer has it
  Put(Hive::User, kProductKey, u"FFmpegPath", StringValue(u"/home/me/ffmpeg"));
  ASSERT_TRUE(ReadSettingString(u"VexaMediaServer", u"FFmpegPath", path));
  EXPECT_EQ(path, "/home/me/ffmpeg");  // both have it: the user's wins
  ASSERT_TRUE(ReadSettingString("VexaMediaServer", "ffmpegpath", path));
  EXPECT_EQ(path, "/home/me/ffmpeg");
  EXPECT_FALSE(ReadSettingString(u"VexaMediaServer", u"Missing", path));
  EXPECT_FALSE(ReadSettingString(u"OtherProduct", u"FFmpegPath", path));
}

TEST_F(Settings, FallsBackWhenTheUserValueHasTheWrongType) {
  Put(Hive::User, kProductKey, u"FFmpegPath", StringValue(u"%HOME%/ffmpeg", kRegExpandSz));
  std::string path;
  EXPECT_FALSE(ReadSettingString(u"VexaMediaServer", u"FFmpegPath", path));
  Put(Hive::Machine, kProductKey, u"FFmpegPath", StringValue(u"/usr/bin/ffmpeg"));
  ASSERT_TRUE(ReadSettingString(u"VexaMediaServer", u"FFmpegPath", path));
  EXPECT_EQ(path, "/usr/bin/ffmpeg");
}

TEST_F(Settings, ExpandableStringIsNotReadAsAString) {
  Put(Hive::User, kProductKey, u"Path", StringValue(u"%HOME%", kRegExpandSz));
  SettingsPtr settings;
  ASSERT_TRUE(OpenSettings(false, false, u"VexaMediaServer", true, settings));
  std::u16string wide;
  std::string narrow;
  EXPECT_FALSE(settings->GetString(u"Path", wide));
  EXPECT_FALSE(settings->GetString(u"Path", narrow));
  EXPECT_FALSE(settings->GetString("Path", narrow));
}

TEST_F(Settings, IntegerReadsByType) {
  SettingsPtr settings;
  ASSERT_TRUE(OpenSettings(false, true, u"P", false, settings));
  ASSERT_TRUE(settings->SetDword(u"D", 0x80000001u));
  ASSERT_TRUE(settings->SetInt32(u"Negative", -2));
  ASSERT_TRUE(settings->SetUInt32(u"Unsigned", 0xFFFFFFFEu));
  ASSERT_TRUE(settings->SetBool("Flag", true));
  int64_t wide = 0;
  uint32_t dword = 0;
  uint64_t qword = 0;
  // A REG_DWORD is read by GetInt64 (zero-extended) and GetDword, not by GetQword.
  ASSERT_TRUE(settings->GetInt64(u"D", wide));
  EXPECT_EQ(wide, 0x80000001LL);
  ASSERT_TRUE(settings->GetDword(u"D", dword));
  EXPECT_EQ(dword, 0x80000001u);
  EXPECT_FALSE(settings->GetQword(u"D", qword));
  // SetInt32 stores a sign-extended REG_QWORD: GetQword reads it, GetDword does not.
  ASSERT_TRUE(settings->GetQword(u"Negative", qword));
  EXPECT_EQ(qword, 0xFFFFFFFFFFFFFFFEull);
  EXPECT_FALSE(settings->GetDword(u"Negative", dword));
  int32_t narrow = 0;
  ASSERT_TRUE(settings->GetInt32(u"Negative", narrow));
  EXPECT_EQ(narrow, -2);
  ASSERT_TRUE(settings->GetQword("Unsigned", qword));
  EXPECT_EQ(qword, 0xFFFFFFFEull);
  uint32_t low = 0;
  ASSERT_TRUE(settings->GetUInt32("Unsigned", low));
  EXPECT_EQ(low, 0xFFFFFFFEu);
  bool flag = false;
  ASSERT_TRUE(settings->GetBool(u"Flag", flag));
  EXPECT_TRUE(flag);
  ASSERT_TRUE(settings->GetDword("flag", dword));
  EXPECT_EQ(dword, 1u);
  EXPECT_FALSE(settings->GetBool(u"Negative", flag));  // a REG_QWORD is no bool
  ASSERT_TRUE(settings->SetLongLong(u"L", -5));
  ASSERT_TRUE(settings->SetULongLong(u"U", ~0ull));
  ASSERT_TRUE(settings->SetQword(u"Q", 7));
  ASSERT_TRUE(settings->SetInt64("I", 8));
  ASSERT_TRUE(settings->GetLongLong(u"L", wide));
  EXPECT_EQ(wide, -5);
  ASSERT_TRUE(settings->GetULongLong(u"U", qword));
  EXPECT_EQ(qword, ~0ull);
  ASSERT_TRUE(settings->GetInt64("Q", wide));
  EXPECT_EQ(wide, 7);
  ASSERT_TRUE(settings->GetQword(u"I", qword));
  EXPECT_EQ(qword, 8u);
  // A string is no integer.
  ASSERT_TRUE(settings->SetString(u"S", u"12"));
  EXPECT_FALSE(settings->GetInt64(u"S", wide));
}

TEST_F(Settings, StringsAndBinary) {
  SettingsPtr settings;
  ASSERT_TRUE(OpenSettings(false, true, u"P", false, settings));
  ASSERT_TRUE(settings->SetString(u"A", "UTF-8 \xC3\xA9"));
  ASSERT_TRUE(settings->SetString("B", "x"));
  ASSERT_TRUE(settings->SetString(u"C", u"wide \U0001F600"));
  ASSERT_TRUE(settings->SetString("D", u""));
  std::u16string wide;
  std::string narrow;
  ASSERT_TRUE(settings->GetString(u"A", wide));
  EXPECT_EQ(wide, u"UTF-8 \u00E9");
  ASSERT_TRUE(settings->GetString("C", narrow));
  EXPECT_EQ(narrow, "wide \xF0\x9F\x98\x80");
  ASSERT_TRUE(settings->GetString(u"D", narrow));
  EXPECT_EQ(narrow, "");
  // Surrogate code points in UTF-8 become U+FFFD; other ill-formed UTF-8 becomes empty.
  ASSERT_TRUE(settings->SetString(u"E", "a\xED\xA0\x80" "b"));
  ASSERT_TRUE(settings->GetString(u"E", wide));
  EXPECT_EQ(wide, u"a\uFFFDb");
  ASSERT_TRUE(settings->SetString(u"F", "bad \xC0\x80"));
  ASSERT_TRUE(settings->GetString(u"F", wide));
  EXPECT_EQ(wide, u"");
  EXPECT_FALSE(settings->SetString("bad name \xFF", "v"));  // the name becomes empty
  EXPECT_FALSE(settings->SetString(u"", u"v"));
  const uint8_t bytes[] = {0, 1, 2, 255};
  ASSERT_TRUE(settings->SetBinary(u"Bin", bytes, sizeof bytes));
  EXPECT_FALSE(settings->SetBinary(u"Null", nullptr, 4));
  EXPECT_TRUE(settings->SetBinary(u"Zero", nullptr, 0));
  vetl::MemoryBuffer<uint8_t> buffer;
  ASSERT_TRUE(settings->GetBinary("bin", buffer));
  ASSERT_EQ(buffer.Count(), 4u);
  EXPECT_EQ(buffer.Data()[3], 255);
  EXPECT_FALSE(settings->GetBinary(u"Zero", buffer));  // nothing to read
  EXPECT_FALSE(settings->GetBinary(u"A", buffer));     // a string is no binary
  EXPECT_FALSE(settings->GetString(u"Bin", wide));
}

TEST_F(Settings, AStringStopsAtItsFirstTerminator) {
  RegValue value = StringValue(u"first");
  value.data[10] = 0;  // the terminator, then more text
  value.data.insert(value.data.end(), {'x', 0, 0, 0});
  Put(Hive::User, kProductKey, u"Embedded", value);
  SettingsPtr settings;
  ASSERT_TRUE(OpenSettings(false, false, u"VexaMediaServer", true, settings));
  std::u16string text;
  ASSERT_TRUE(settings->GetString(u"Embedded", text));
  EXPECT_EQ(text, u"first");
}

TEST_F(Settings, WritesThroughAReadOnlyModeFail) {
  Put(Hive::User, kProductKey, u"FFmpegPath", StringValue(u"/usr/bin/ffmpeg"));
  SettingsPtr settings;
  ASSERT_TRUE(OpenSettings(false, false, u"VexaMediaServer", true, settings));
  EXPECT_EQ(static_cast<VexaSettings*>(settings.Get())->GetAccessMode(), kAccessUserReadMachineRead);
  EXPECT_FALSE(settings->SetString(u"FFmpegPath", u"/tmp/other"));
  EXPECT_FALSE(settings->SetDword(u"New", 1));
  EXPECT_FALSE(settings->DeleteValue(u"FFmpegPath"));
  std::string path;
  ASSERT_TRUE(settings->GetString(u"FFmpegPath", path));
  EXPECT_EQ(path, "/usr/bin/ffmpeg");
  for (int32_t mode : {kAccessUserRead, kAccessMachineRead}) {
    Put(Hive::Machine, kProductKey, u"X", StringValue(u"x"));
    SettingsPtr readOnly;
    ASSERT_TRUE(OpenSettingsPath(u"Settings/VexaMediaServer", mode, readOnly)) << mode;
    EXPECT_FALSE(readOnly->SetString(u"X", u"y")) << mode;
  }
}

TEST_F(Settings, AccessModesOpenTheirLayers) {
  SettingsPtr settings;
  // Nothing exists yet: opening without create fails in every mode.
  for (int32_t mode = 1; mode <= 6; ++mode) EXPECT_FALSE(OpenSettingsPath(u"Settings/P", mode, settings)) << mode;
  EXPECT_FALSE(OpenSettingsPath(u"Settings/P", 0, settings));
  EXPECT_FALSE(OpenSettingsPath(u"Settings/P", 10, settings));
  // Mode 9 creates the machine key; then modes 2, 3, 5, 6 open (2 and 5 through the machine key).
  ASSERT_TRUE(OpenSettingsPath(u"Settings/P", kAccessMachineCreate, settings));
  EXPECT_EQ(static_cast<VexaSettings*>(settings.Get())->RecordedHive(), Hive::Machine);
  ASSERT_TRUE(settings->SetString(u"Where", u"machine"));
  for (int32_t mode : {2, 3, 5, 6}) EXPECT_TRUE(OpenSettingsPath(u"Settings/P", mode, settings)) << mode;
  for (int32_t mode : {1, 4}) EXPECT_FALSE(OpenSettingsPath(u"Settings/P", mode, settings)) << mode;
  // Mode 8 creates the user key and reads the machine key behind it.
  ASSERT_TRUE(OpenSettingsPath(u"Settings/P", kAccessUserCreateMachineAll, settings));
  EXPECT_EQ(static_cast<VexaSettings*>(settings.Get())->RecordedHive(), Hive::User);
  std::string where;
  ASSERT_TRUE(settings->GetString(u"Where", where));
  EXPECT_EQ(where, "machine");
  ASSERT_TRUE(settings->SetString(u"Where", u"user"));  // writes go to the user key
  ASSERT_TRUE(settings->GetString(u"Where", where));
  EXPECT_EQ(where, "user");
  SettingsPtr machineOnly;
  ASSERT_TRUE(OpenSettingsPath(u"Settings/P", kAccessMachineRead, machineOnly));
  ASSERT_TRUE(machineOnly->GetString(u"Where", where));
  EXPECT_EQ(where, "machine");
  // Mode 7 never looks at the machine key.
  SettingsPtr userOnly;
  ASSERT_TRUE(OpenSettingsPath(u"Settings/P", kAccessUserCreate, userOnly));
  ASSERT_TRUE(userOnly->DeleteValue(u"Where"));
  EXPECT_FALSE(userOnly->GetString(u"Where", where));
}

TEST_F(Settings, OpenSettingsPicksPathAndMode) {
  SettingsPtr settings;
  EXPECT_FALSE(OpenSettings(false, true, u"", false, settings));
  EXPECT_FALSE(OpenSettings(false, true, nullptr, false, settings));
  EXPECT_FALSE(std::filesystem::exists(userRoot_));  // the registry was not touched
  EXPECT_FALSE(std::filesystem::exists(machineRoot_));
  ASSERT_TRUE(OpenSettings(true, true, u"Prod", false, settings));
  auto* node = static_cast<VexaSettings*>(settings.Get());
  EXPECT_EQ(node->FullPath(), u"SOFTWARE\\Vexa\\Install\\Prod");
  EXPECT_EQ(node->GetAccessMode(), kAccessMachineCreate);
  EXPECT_TRUE(std::filesystem::is_directory(machineRoot_ + "/SOFTWARE/Vexa/Install/Prod"));
  ASSERT_TRUE(OpenSettings(true, false, u"Prod", true, settings));
  EXPECT_EQ(static_cast<VexaSettings*>(settings.Get())->GetAccessMode(), kAccessMachineRead);
  ASSERT_TRUE(OpenSettings(true, false, u"Prod", false, settings));
  EXPECT_EQ(static_cast<VexaSettings*>(settings.Get())->GetAccessMode(), kAccessMachineAll);
  ASSERT_TRUE(OpenSettings(false, true, u"Prod/Sub", false, settings));
  node = static_cast<VexaSettings*>(settings.Get());
  EXPECT_EQ(node->FullPath(), u"SOFTWARE\\Vexa\\Settings\\Prod\\Sub");
  EXPECT_EQ(node->GetAccessMode(), kAccessUserCreateMachineAll);
  std::u16string name;
  ASSERT_TRUE(settings->GetName(name));
  EXPECT_EQ(name, u"Sub");
  EXPECT_EQ(settings->GetRefCount(), 1);  // only the caller holds it
  ASSERT_TRUE(OpenSettings(false, false, u"Prod", false, settings));
  EXPECT_EQ(static_cast<VexaSettings*>(settings.Get())->GetAccessMode(), kAccessUserAllMachineAll);
  EXPECT_FALSE(OpenSettings(false, true, u"Prod//Sub", false, settings));
}

TEST_F(Settings, ChildrenAndEnumerationAcrossLayers) {
  Put(Hive::User, u"SOFTWARE\\Vexa\\Settings\\P\\UserChild", u"u", StringValue(u"1"));
  Put(Hive::Machine, u"SOFTWARE\\Vexa\\Settings\\P\\MachineChild", u"m", StringValue(u"1"));
  // Both layers hold "UserChild" and "Shared", the machine layer spelled in other case: each is
  // listed once, as the user layer spells it.
  Put(Hive::Machine, u"SOFTWARE\\Vexa\\Settings\\P\\USERCHILD", u"m", StringValue(u"1"));
  Put(Hive::User, u"SOFTWARE\\Vexa\\Settings\\P", u"Shared", StringValue(u"user"));
  Put(Hive::Machine, u"SOFTWARE\\Vexa\\Settings\\P", u"sHARED", StringValue(u"machine"));
  Put(Hive::Machine, u"SOFTWARE\\Vexa\\Settings\\P", u"MachineOnly", StringValue(u"x"));
  SettingsPtr settings;
  ASSERT_TRUE(OpenSettings(false, false, u"P", true, settings));
  uint32_t count = 0;
  ASSERT_TRUE(settings->GetChildCount(count));
  EXPECT_EQ(count, 2u);
  std::set<std::string> children;
  ASSERT_TRUE(settings->GetChildNames(children));
  EXPECT_EQ(children, (std::set<std::string>{"MachineChild", "UserChild"}));
  ASSERT_TRUE(settings->GetValueCount(count));
  EXPECT_EQ(count, 2u);
  std::set<std::u16string> values;
  ASSERT_TRUE(settings->GetValueNames(values));
  EXPECT_EQ(values, (std::set<std::u16string>{u"MachineOnly", u"Shared"}));
  // A user-only mode sees the user layer alone.
  SettingsPtr userOnly;
  ASSERT_TRUE(OpenSettingsPath(u"Settings/P", kAccessUserRead, userOnly));
  ASSERT_TRUE(userOnly->GetChildNames(children));
  EXPECT_EQ(children, std::set<std::string>{"UserChild"});
  // Children open by path below the node; a plain name comes from the children map next time.
  SettingsPtr child;
  ASSERT_TRUE(settings->OpenChild(u"UserChild", child));
  ASSERT_TRUE(child->GetValueNames(values));
  EXPECT_EQ(values, (std::set<std::u16string>{u"m", u"u"}));
  EXPECT_EQ(child->GetRefCount(), 2);  // the map and the caller
  SettingsPtr again;
  ASSERT_TRUE(settings->OpenChild("UserChild", again));
  EXPECT_EQ(again.Get(), child.Get());
  EXPECT_EQ(static_cast<VexaSettings*>(child.Get())->FullPath(), u"SOFTWARE\\Vexa\\Settings\\P\\UserChild");
  EXPECT_FALSE(settings->OpenChild(u"NoSuchChild", again));
  Put(Hive::User, u"SOFTWARE\\Vexa\\Settings\\P\\UserChild\\Deeper", u"d", StringValue(u"1"));
  SettingsPtr deeper;
  ASSERT_TRUE(settings->OpenChild("UserChild/Deeper", deeper));
  std::string name;
  ASSERT_TRUE(deeper->GetName(name));
  EXPECT_EQ(name, "Deeper");
}

TEST_F(Settings, ValueNameEnumerationEndsAtA1024CharacterName) {
  SettingsPtr settings;
  ASSERT_TRUE(OpenSettings(false, true, u"P", false, settings));
  ASSERT_TRUE(settings->SetDword(u"first", 1));
  ASSERT_TRUE(settings->SetDword(std::u16string(1023, u'n').c_str(), 1));
  ASSERT_TRUE(settings->SetDword(std::u16string(1024, u'l').c_str(), 1));
  ASSERT_TRUE(settings->SetDword(u"after", 1));
  std::set<std::u16string> names;
  ASSERT_TRUE(settings->GetValueNames(names));
  EXPECT_EQ(names.size(), 2u);
  EXPECT_EQ(names.count(u"after"), 0u);
  uint32_t value = 0;
  EXPECT_TRUE(settings->GetDword(u"after", value));  // still readable by name
}

TEST_F(Settings, DeletionStaysInsideTheProductTree) {
  Put(Hive::User, u"SOFTWARE\\Other\\Keep", u"v", StringValue(u"keep"));
  VexaSettings* outside = new VexaSettings(u"SOFTWARE\\Other\\Keep", u"Keep", kAccessUserAll);
  SettingsPtr hold(outside);
  ASSERT_TRUE(outside->Open());
  EXPECT_FALSE(outside->DeleteKey());
  EXPECT_TRUE(std::filesystem::exists(userRoot_ + "/SOFTWARE/Other/Keep/.vexa-values"));
  // Inside the tree the key goes with its subkeys, in the layer of the last open only.
  Put(Hive::User, u"SOFTWARE\\Vexa\\Settings\\P\\Sub", u"v", StringValue(u"1"));
  Put(Hive::Machine, u"SOFTWARE\\Vexa\\Settings\\P", u"v", StringValue(u"1"));
  SettingsPtr settings;
  ASSERT_TRUE(OpenSettings(false, false, u"P", false, settings));
  SettingsPtr child;
  ASSERT_TRUE(settings->OpenChild(u"Sub", child));
  EXPECT_TRUE(settings->DeleteKey());
  EXPECT_FALSE(std::filesystem::exists(userRoot_ + "/SOFTWARE/Vexa/Settings/P"));
  EXPECT_TRUE(std::filesystem::exists(machineRoot_ + "/SOFTWARE/Vexa/Settings/P"));
  EXPECT_EQ(child->GetRefCount(), 1);  // the children were released
  EXPECT_FALSE(settings->DeleteKey());  // nothing left to delete in the user layer
  // A machine-layer node deletes in the machine layer.
  ASSERT_TRUE(OpenSettings(true, true, u"P", false, settings));
  EXPECT_TRUE(settings->DeleteKey());
  EXPECT_FALSE(std::filesystem::exists(machineRoot_ + "/SOFTWARE/Vexa/Install/P"));
  // A node that never opened has no layer to delete in.
  VexaSettings* never = new VexaSettings(u"SOFTWARE\\Vexa\\Settings\\P", u"P", kAccessUserAll);
  SettingsPtr holdNever(never);
  EXPECT_FALSE(never->DeleteKey());
  EXPECT_TRUE(std::filesystem::exists(machineRoot_ + "/SOFTWARE/Vexa/Settings/P"));
}

TEST_F(Settings, MachineLayerOnlyWhenTheUserKeyIsMissing) {
  // Mode 2 succeeds with the machine key alone, reads from it, and cannot write.
  Put(Hive::Machine, kProductKey, u"FFmpegPath", StringValue(u"/m"));
  SettingsPtr settings;
  ASSERT_TRUE(OpenSettings(false, false, u"VexaMediaServer", false, settings));
  std::string path;
  ASSERT_TRUE(settings->GetString(u"FFmpegPath", path));
  EXPECT_EQ(path, "/m");
  EXPECT_FALSE(settings->SetString(u"FFmpegPath", u"/u"));
}
