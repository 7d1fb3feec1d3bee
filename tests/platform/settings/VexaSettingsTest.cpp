#include "tests/platform/settings/SettingsFixture.h"

namespace {

// Writes a value straight into a layer, as another program (or an installer) would.
void Put(Hive hive, std::u16string path, std::u16string_view name, const RegValue& value) {
  RegKey key;
  ASSERT_TRUE(RegOpenKey(hive, u"SOFTWARE\\Vexa\\Settings\\" + path, true, true, key));
  ASSERT_EQ(RegSetValue(key, name, value), StoreResult::kOk);
}

bool KeyExists(Hive hive, std::u16string_view path) {
  RegKey key;
  return RegOpenKey(hive, path, false, false, key);
}

VexaSettings* Node(const SettingsPtr& settings) { return static_cast<VexaSettings*>(settings.Get()); }

// Counts its references, and its destruction into *destroyed.
struct Counted : vetl::IRefCounted {
  explicit Counted(int* destroyed) : m_destroyed(destroyed) {}
  ~Counted() override { ++*m_destroyed; }
  int32_t AddRef() override { return ++m_count; }
  [[gnu::noinline]] int32_t Release() override {  // out of line: the count decides, not the compiler
    const int32_t count = --m_count;
    if (count <= 0) delete this;
    return count;
  }
  int32_t GetRefCount() const override { return m_count; }
  int32_t m_count = 0;
  int* m_destroyed;
};

}  // namespace

class Settings : public SettingsTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenSettings(false, true, u"P", false, s));
  }
  SettingsPtr s;
};

TEST(RefCountedPtr, SelfAssignmentKeepsTheObjectAndReassignmentDropsTheOld) {
  int destroyed = 0;
  {
    vetl::RefCountedPtr<Counted> first(new Counted(&destroyed));
    const auto& same = first;  // through a reference: the compiler would flag a plain self-assignment
    first = same;              // adds before it drops: the only reference keeps the object
    EXPECT_EQ(first->GetRefCount(), 1);
    vetl::RefCountedPtr<Counted> copy(first);
    first = new Counted(&destroyed);
    copy = first;  // the first object goes with its last reference
    EXPECT_EQ(destroyed, 1);
  }
  EXPECT_EQ(destroyed, 2);
  vetl::MemoryBuffer<char16_t> buffer;  // keeps its elements unless the count changes or zero fill is asked
  buffer.Resize(10, true);
  buffer.Data()[3] = u'x';
  buffer.Resize(10, false);
  EXPECT_EQ(buffer.Data()[3], u'x');
  buffer.Resize(10, true);
  EXPECT_EQ(std::u16string(buffer.Data(), buffer.Count()), std::u16string(10, u'\0'));
  buffer.Resize(0, false);
  EXPECT_EQ(buffer.Data(), nullptr);
}

TEST_F(Settings, ReadSettingStringPrefersTheUserLayerAndSkipsWrongTypes) {
  Put(Hive::Machine, u"VexaMediaServer", u"FFmpegPath", StringValue(u"/opt/machine/ffmpeg"));
  std::string path;
  EXPECT_TRUE(ReadSettingString(u"VexaMediaServer", u"FFmpegPath", path) && path == "/opt/machine/ffmpeg");
  Put(Hive::User, u"VexaMediaServer", u"FFmpegPath", StringValue(u"%HOME%/ffmpeg", kRegExpandSz));
  EXPECT_TRUE(ReadSettingString("VexaMediaServer", "ffmpegpath", path) && path == "/opt/machine/ffmpeg");  // no string
  Put(Hive::User, u"VexaMediaServer", u"FFmpegPath", StringValue(u"/home/me/ffmpeg"));
  EXPECT_TRUE(ReadSettingString(u"VexaMediaServer", u"FFmpegPath", path) && path == "/home/me/ffmpeg");
  EXPECT_FALSE(ReadSettingString(u"VexaMediaServer", u"Missing", path) || ReadSettingString(u"Other", u"FFmpegPath", path));
}

// Which getters read what each setter stored: (DWORD or QWORD, sign- or zero-extended).
TEST_F(Settings, IntegerReadsByType) {
  ASSERT_TRUE(s->SetDword(u"D", 0x80000001u) && s->SetInt32(u"Negative", -2) && s->SetUInt32("Unsigned", 0xFFFFFFFEu) &&
              s->SetBool("Flag", true) && s->SetString(u"S", u"12"));
  const struct {
    const char* name;
    bool int64;
    int64_t asInt64;
    bool dword, qword;
  } cases[] = {{"D", true, 0x80000001LL, true, false}, {"Negative", true, -2, false, true},
               {"Unsigned", true, 0xFFFFFFFELL, false, true}, {"Flag", true, 1, true, false}, {"S", false, 0, false, false}};
  for (const auto& c : cases) {
    int64_t wide = 0;  // left 0 when not read
    uint32_t dword = 0;
    uint64_t qword = 0;
    EXPECT_TRUE(s->GetInt64(c.name, wide) == c.int64 && wide == c.asInt64) << c.name;
    EXPECT_TRUE(s->GetDword(c.name, dword) == c.dword && s->GetQword(c.name, qword) == c.qword) << c.name;
  }
  int32_t narrow = 0;
  bool flag = false;
  EXPECT_TRUE(s->GetInt32(u"Negative", narrow) && narrow == -2 && s->GetBool(u"flag", flag) && flag);
  EXPECT_FALSE(s->GetBool(u"Negative", flag));  // a QWORD is no bool
}

TEST_F(Settings, StringsAndBinary) {
  const std::pair<const char*, std::u16string> strings[] = {
      {"UTF-8 \xC3\xA9", u"UTF-8 \u00E9"}, {"a\xED\xA0\x80" "b", u"a\uFFFDb"}, {"bad \xC0\x80", u""}};
  for (const auto& [utf8, expected] : strings) {
    std::u16string wide;
    EXPECT_TRUE(s->SetString(u"A", utf8) && s->GetString("a", wide) && wide == expected) << utf8;
  }
  EXPECT_FALSE(s->SetString("bad name \xFF", "v") || s->SetString(u"", u"v"));  // the name becomes empty
  const uint8_t bytes[] = {0, 1, 2, 255};
  ASSERT_TRUE(s->SetBinary(u"Bin", bytes, sizeof bytes) && s->SetBinary(u"Zero", nullptr, 0));
  EXPECT_FALSE(s->SetBinary(u"Null", nullptr, 4));
  vetl::MemoryBuffer<uint8_t> buffer;
  ASSERT_TRUE(s->GetBinary("bin", buffer));
  EXPECT_EQ(std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Count()), std::vector<uint8_t>(bytes, bytes + 4));
  EXPECT_FALSE(s->GetBinary(u"Zero", buffer) || s->GetBinary(u"A", buffer));  // nothing to read; a string is no binary
  RegValue embedded = StringValue(u"first");
  embedded.data[10] = 0;  // the terminator, then more text
  embedded.data.insert(embedded.data.end(), {'x', 0, 0, 0});
  Put(Hive::User, u"P", u"Embedded", embedded);
  std::u16string text;
  EXPECT_TRUE(s->GetString(u"Embedded", text) && text == u"first");
}

TEST_F(Settings, AccessModesOpenTheirLayers) {
  for (int32_t mode : {0, 1, 2, 3, 4, 5, 6, 10}) EXPECT_FALSE(OpenSettingsPath(u"Settings/M", mode, s)) << mode;
  ASSERT_TRUE(OpenSettingsPath(u"Settings/M", kAccessMachineCreate, s));
  ASSERT_TRUE(s->SetString(u"Where", u"machine"));
  for (int32_t mode : {2, 3, 5, 6}) EXPECT_TRUE(OpenSettingsPath(u"Settings/M", mode, s)) << mode;
  EXPECT_FALSE(s->SetString(u"Where", u"x"));  // mode 6 reads only
  ASSERT_TRUE(OpenSettingsPath(u"Settings/M", kAccessUserAllMachineAll, s));
  EXPECT_FALSE(s->SetString(u"Where", u"x"));  // no user key to write to
  for (int32_t mode : {1, 4}) EXPECT_FALSE(OpenSettingsPath(u"Settings/M", mode, s)) << mode;
  ASSERT_TRUE(OpenSettingsPath(u"Settings/M", kAccessUserCreateMachineAll, s));  // creates the user key
  std::string where;
  EXPECT_TRUE(s->GetString(u"Where", where) && where == "machine");
  ASSERT_TRUE(s->SetString(u"Where", u"user"));  // writes go to the user key
  EXPECT_TRUE(s->GetString(u"Where", where) && where == "user");
  ASSERT_TRUE(OpenSettingsPath(u"Settings/M", kAccessUserReadMachineRead, s));
  EXPECT_FALSE(s->SetDword(u"New", 1) || s->DeleteValue(u"Where"));
  ASSERT_TRUE(OpenSettingsPath(u"Settings/M", kAccessUserCreate, s));  // never looks at the machine key
  ASSERT_TRUE(s->DeleteValue(u"Where"));
  EXPECT_FALSE(s->GetString(u"Where", where));
  const struct {
    bool install, create, readOnly;
    int32_t mode;
  } cases[] = {{true, true, false, kAccessMachineCreate}, {true, false, true, kAccessMachineRead},
               {true, false, false, kAccessMachineAll},   {false, true, false, kAccessUserCreateMachineAll},
               {false, false, true, kAccessUserReadMachineRead}, {false, false, false, kAccessUserAllMachineAll}};
  for (const auto& c : cases) {
    ASSERT_TRUE(OpenSettings(c.install, c.create, u"Prod/Sub", c.readOnly, s)) << c.mode;
    EXPECT_EQ(Node(s)->GetAccessMode(), c.mode);
    EXPECT_EQ(Node(s)->FullPath(), c.install ? u"SOFTWARE\\Vexa\\Install\\Prod\\Sub" : u"SOFTWARE\\Vexa\\Settings\\Prod\\Sub");
    EXPECT_EQ(s->GetRefCount(), 1);  // only the caller holds it
  }
  for (const char16_t* bad : {u"", static_cast<const char16_t*>(nullptr), u"Prod//Sub"})
    EXPECT_FALSE(OpenSettings(false, true, bad, false, s));
}

// Both layers hold "UserChild" and "Shared", the machine layer spelled in other case: each is
// listed once, as the user layer spells it. A name of 1024 characters ends the listing.
TEST_F(Settings, ChildrenAndEnumerationAcrossLayers) {
  Put(Hive::User, u"P\\UserChild", u"u", StringValue(u"1"));
  Put(Hive::Machine, u"P\\MachineChild", u"m", StringValue(u"1"));
  Put(Hive::Machine, u"P\\USERCHILD", u"m", StringValue(u"1"));
  Put(Hive::User, u"P", u"Shared", StringValue(u"user"));
  Put(Hive::Machine, u"P", u"sHARED", StringValue(u"machine"));
  Put(Hive::Machine, u"P", u"MachineOnly", StringValue(u"x"));
  ASSERT_TRUE(OpenSettings(false, false, u"P", true, s));
  uint32_t children = 0, values = 0;
  EXPECT_TRUE(s->GetChildCount(children) && children == 2u && s->GetValueCount(values) && values == 2u);
  std::set<std::string> childNames;
  EXPECT_TRUE(s->GetChildNames(childNames) && (childNames == std::set<std::string>{"MachineChild", "UserChild"}));
  std::set<std::u16string> names;
  EXPECT_TRUE(s->GetValueNames(names) && (names == std::set<std::u16string>{u"MachineOnly", u"Shared"}));
  SettingsPtr child, again;
  ASSERT_TRUE(s->OpenChild(u"UserChild", child));
  EXPECT_TRUE(child->GetValueNames(names) && (names == std::set<std::u16string>{u"m", u"u"}));
  ASSERT_TRUE(s->OpenChild("UserChild", again));  // from the children map: the same node
  EXPECT_EQ(again.Get(), child.Get());
  EXPECT_FALSE(s->OpenChild(u"NoSuchChild", again));
  ASSERT_TRUE(OpenSettings(false, true, u"Q", false, s));
  for (const std::u16string& name : {std::u16string(1023, u'n'), std::u16string(1024, u'l'), std::u16string(u"after")})
    ASSERT_TRUE(s->SetDword(name.c_str(), 1));
  EXPECT_TRUE(s->GetValueNames(names) && names.size() == 1u);
  EXPECT_TRUE(s->GetDword(u"after", values));  // still readable by name
}

TEST_F(Settings, DeletionStaysInsideTheProductTreeAndTheRecordedLayer) {
  RegKey other;
  ASSERT_TRUE(RegOpenKey(Hive::User, u"SOFTWARE\\Other\\Keep", true, true, other));
  SettingsPtr outside(new VexaSettings(u"SOFTWARE\\Other\\Keep", u"Keep", kAccessUserAll)), child;
  ASSERT_TRUE(Node(outside)->Open());
  EXPECT_FALSE(outside->DeleteKey());
  EXPECT_TRUE(KeyExists(Hive::User, u"SOFTWARE\\Other\\Keep"));
  Put(Hive::User, u"P\\Sub", u"v", StringValue(u"1"));
  Put(Hive::Machine, u"P", u"v", StringValue(u"1"));
  ASSERT_TRUE(OpenSettings(false, false, u"P", false, s) && s->OpenChild(u"Sub", child));
  EXPECT_TRUE(s->DeleteKey());
  EXPECT_FALSE(KeyExists(Hive::User, u"SOFTWARE\\Vexa\\Settings\\P"));
  EXPECT_TRUE(KeyExists(Hive::Machine, u"SOFTWARE\\Vexa\\Settings\\P"));
  EXPECT_EQ(child->GetRefCount(), 1);  // the children were released
  SettingsPtr never(new VexaSettings(u"SOFTWARE\\Vexa\\Settings\\P", u"P", kAccessUserAll));
  EXPECT_FALSE(never->DeleteKey());  // never opened: no layer to delete in
}
