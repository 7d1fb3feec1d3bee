#include "platform/settings/VexaSettings.h"

#include <algorithm>
#include <cstring>

#include "platform/files/TextConvert.h"

namespace veds {
namespace {

constexpr char16_t kRoot[] = u"SOFTWARE\\Vexa\\";
constexpr size_t kValueNameLimit = 1024;  // enumeration stops at a name this long or longer

bool IsPrimaryUser(int32_t mode) { return mode != kAccessMachineAll && mode != kAccessMachineRead && mode != kAccessMachineCreate; }
bool HasSecondary(int32_t mode) {
  return mode == kAccessUserAllMachineAll || mode == kAccessUserReadMachineRead ||
         mode == kAccessUserCreateMachineAll;
}

std::u16string Wide(const char16_t* text) { return text ? std::u16string(text) : std::u16string(); }

bool AcceptInteger(const RegValue& value) {
  return (value.type == kRegQword && value.data.size() == 8) || (value.type == kRegDword && value.data.size() == 4);
}
bool AcceptDword(const RegValue& value) { return value.type == kRegDword && value.data.size() == 4; }
bool AcceptQword(const RegValue& value) { return value.type == kRegQword && value.data.size() == 8; }
bool AcceptString(const RegValue& value) { return value.type == kRegSz && !value.data.empty(); }
bool AcceptBinary(const RegValue& value) { return value.type == kRegBinary && !value.data.empty(); }

uint64_t LittleEndian(const std::vector<uint8_t>& data) {
  uint64_t number = 0;
  for (size_t i = data.size(); i > 0; --i) number = (number << 8) | data[i - 1];
  return number;
}

}  // namespace

std::u16string SettingsWide(const char* utf8) {
  std::u16string wide;
  if (utf8) VexaFiles::Utf8ToUtf16String(utf8, wide, VexaFiles::Utf8OutOfRange::Replace);
  return wide;
}

std::string SettingsNarrow(std::u16string_view wide) {
  std::string narrow;
  VexaFiles::Utf16ToUtf8String(wide, narrow);
  return narrow;
}

VexaSettings::VexaSettings(std::u16string fullPath, std::u16string name, int32_t accessMode)
    : m_fullPath(std::move(fullPath)), m_name(std::move(name)), m_accessMode(accessMode) {}

VexaSettings::~VexaSettings() = default;

int32_t VexaSettings::AddRef() { return ++m_refCount; }

int32_t VexaSettings::Release() {
  const int32_t count = --m_refCount;
  if (count <= 0) delete this;
  return count;
}

int32_t VexaSettings::GetRefCount() const { return m_refCount; }

bool VexaSettings::Open() {
  const bool userPrimary = IsPrimaryUser(m_accessMode);
  std::unique_ptr<RegKey>& primary = userPrimary ? m_userKey : m_machineKey;
  if (primary) return true;
  bool create = false;
  bool write = true;
  switch (m_accessMode) {
    case kAccessUserAll: case kAccessUserAllMachineAll: case kAccessMachineAll: break;
    case kAccessUserRead: case kAccessUserReadMachineRead: case kAccessMachineRead: write = false; break;
    case kAccessUserCreate: case kAccessUserCreateMachineAll: case kAccessMachineCreate: create = true; break;
    default: return false;
  }
  auto key = std::make_unique<RegKey>();
  if (RegOpenKey(userPrimary ? Hive::User : Hive::Machine, m_fullPath, create, write, *key)) primary = std::move(key);
  if (HasSecondary(m_accessMode) && !m_machineKey) {
    // The machine key is opened, never created; failing to open it is not an error.
    auto secondary = std::make_unique<RegKey>();
    if (RegOpenKey(Hive::Machine, m_fullPath, false, write, *secondary)) m_machineKey = std::move(secondary);
  }
  bool opened = primary != nullptr;
  if (m_accessMode == kAccessUserAllMachineAll || m_accessMode == kAccessUserReadMachineRead)
    opened = opened || m_machineKey != nullptr;
  if (opened) m_hive = userPrimary ? Hive::User : Hive::Machine;
  return opened;
}

void VexaSettings::Close() {
  m_userKey.reset();
  m_machineKey.reset();
}

int VexaSettings::KeysToRead(const RegKey* keys[2]) const {
  int count = 0;
  const bool userPrimary = IsPrimaryUser(m_accessMode);
  const RegKey* primary = userPrimary ? m_userKey.get() : m_machineKey.get();
  if (primary) keys[count++] = primary;
  if (HasSecondary(m_accessMode) && m_machineKey) keys[count++] = m_machineKey.get();
  return count;
}

// The first layer holding the value with an accepted type answers. A damaged layer ends the
// search: the value may be among what it lost, and the next layer's would be the wrong answer.
bool VexaSettings::ReadValue(const char16_t* name, bool (*accept)(const RegValue&), RegValue& value) {
  m_lastResult = StoreResult::kBadArgument;
  if (!name || !*name) return false;
  m_lastResult = StoreResult::kNotFound;
  if (!Open()) return false;
  const RegKey* keys[2];
  const int count = KeysToRead(keys);
  for (int i = 0; i < count; ++i) {
    const StoreResult result = RegQueryValue(*keys[i], name, value);
    if (result == StoreResult::kOk && accept(value)) {
      m_lastResult = StoreResult::kOk;
      return true;
    }
    if (result == StoreResult::kDamaged || result == StoreResult::kIoFailed) {
      m_lastResult = result;
      return false;
    }
  }
  return false;
}

bool VexaSettings::WriteValue(const char16_t* name, uint32_t type, const void* data, size_t size) {
  m_lastResult = StoreResult::kBadArgument;
  if (!name || !*name || !Open()) return false;
  const RegKey* primary = IsPrimaryUser(m_accessMode) ? m_userKey.get() : m_machineKey.get();
  m_lastResult = StoreResult::kAccessDenied;
  if (!primary) return false;
  RegValue value;
  value.type = type;
  if (size) value.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  m_lastResult = RegSetValue(*primary, name, value);
  return m_lastResult == StoreResult::kOk;
}

// Names of both layers, merged as registry names compare: a name held by both layers in
// different case is listed once, as the layer read first spells it.
bool VexaSettings::CollectNames(bool subkeys, std::set<std::u16string>& names) {
  names.clear();
  if (!Open()) return false;
  const RegKey* keys[2];
  const int count = KeysToRead(keys);
  std::set<std::u16string> folded;
  m_lastResult = StoreResult::kOk;
  for (int i = 0; i < count; ++i) {
    std::vector<std::u16string> found;
    if (subkeys) {
      RegEnumSubkeys(*keys[i], found);
    } else {
      if (StoreResult result = RegEnumValueNames(*keys[i], found); result != StoreResult::kOk) m_lastResult = result;
      // Names that do not fit the enumeration buffer end the enumeration.
      auto tooLong = std::find_if(found.begin(), found.end(),
                                  [](const std::u16string& name) { return name.size() >= kValueNameLimit; });
      found.erase(tooLong, found.end());
    }
    for (auto& name : found)
      if (!name.empty() && folded.insert(RegFoldName(name)).second) names.insert(std::move(name));
  }
  return m_lastResult == StoreResult::kOk;  // a damaged layer lists only what it could read
}

bool VexaSettings::CreateFromPath(VexaSettings* parent, std::u16string_view path, int32_t accessMode,
                                  SettingsPtr& out) {
  const size_t split = path.find_first_of(u"/\\");
  const std::u16string segment(path.substr(0, split));
  if (segment.empty()) return false;
  std::u16string fullPath = parent ? parent->m_fullPath + u"\\" + segment : std::u16string(kRoot) + segment;
  vetl::RefCountedPtr<VexaSettings> node(new (std::nothrow) VexaSettings(std::move(fullPath), segment, accessMode));
  if (!node) return false;
  if (parent) parent->m_children[segment] = node;
  if (split != std::u16string_view::npos) return CreateFromPath(node.Get(), path.substr(split + 1), accessMode, out);
  if (!node->Open()) return false;
  out = node.Get();
  return true;
}

// ---- names and children

bool VexaSettings::GetName(std::u16string& name) {
  name = m_name;
  return true;
}

bool VexaSettings::GetName(std::string& name) {
  name = SettingsNarrow(m_name);
  return true;
}

bool VexaSettings::GetChildCount(uint32_t& count) {
  std::set<std::u16string> names;
  if (!CollectNames(true, names)) return false;
  count = static_cast<uint32_t>(names.size());
  return true;
}

bool VexaSettings::GetChildNames(std::set<std::u16string>& names) { return CollectNames(true, names); }

bool VexaSettings::GetChildNames(std::set<std::string>& names) {
  names.clear();
  std::set<std::u16string> wide;
  if (!CollectNames(true, wide)) return false;
  for (const auto& name : wide) names.insert(SettingsNarrow(name));
  return true;
}

bool VexaSettings::OpenChild(const char16_t* path, SettingsPtr& child) {
  if (!path || !Open()) return false;
  const std::u16string_view wanted(path);
  if (wanted.find_first_of(u"/\\") == std::u16string_view::npos) {
    auto found = m_children.find(std::u16string(wanted));
    if (found != m_children.end()) {
      child = found->second.Get();
      return true;
    }
  }
  return CreateFromPath(this, wanted, m_accessMode, child);
}

bool VexaSettings::OpenChild(const char* path, SettingsPtr& child) {
  return OpenChild(SettingsWide(path).c_str(), child);
}

bool VexaSettings::GetValueCount(uint32_t& count) {
  std::set<std::u16string> names;
  if (!CollectNames(false, names)) return false;
  count = static_cast<uint32_t>(names.size());
  return true;
}

bool VexaSettings::GetValueNames(std::set<std::u16string>& names) { return CollectNames(false, names); }

bool VexaSettings::GetValueNames(std::set<std::string>& names) {
  names.clear();
  std::set<std::u16string> wide;
  if (!CollectNames(false, wide)) return false;
  for (const auto& name : wide) names.insert(SettingsNarrow(name));
  return true;
}

// ---- writes

bool VexaSettings::SetInt64(const char16_t* name, int64_t value) {
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
  return WriteValue(name, kRegQword, bytes, sizeof bytes);
}
bool VexaSettings::SetInt64(const char* name, int64_t value) { return SetInt64(SettingsWide(name).c_str(), value); }
bool VexaSettings::SetInt32(const char16_t* name, int32_t value) { return SetInt64(name, static_cast<int64_t>(value)); }
bool VexaSettings::SetInt32(const char* name, int32_t value) { return SetInt64(name, static_cast<int64_t>(value)); }
bool VexaSettings::SetUInt32(const char16_t* name, uint32_t value) { return SetInt64(name, static_cast<int64_t>(value)); }
bool VexaSettings::SetUInt32(const char* name, uint32_t value) { return SetInt64(name, static_cast<int64_t>(value)); }
bool VexaSettings::SetLongLong(const char16_t* name, int64_t value) { return SetInt64(name, value); }
bool VexaSettings::SetLongLong(const char* name, int64_t value) { return SetInt64(name, value); }
bool VexaSettings::SetULongLong(const char16_t* name, uint64_t value) { return SetInt64(name, static_cast<int64_t>(value)); }
bool VexaSettings::SetULongLong(const char* name, uint64_t value) { return SetInt64(name, static_cast<int64_t>(value)); }

bool VexaSettings::SetDword(const char16_t* name, uint32_t value) {
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return WriteValue(name, kRegDword, bytes, sizeof bytes);
}
bool VexaSettings::SetDword(const char* name, uint32_t value) { return SetDword(SettingsWide(name).c_str(), value); }
bool VexaSettings::SetQword(const char16_t* name, uint64_t value) { return SetInt64(name, static_cast<int64_t>(value)); }
bool VexaSettings::SetQword(const char* name, uint64_t value) { return SetInt64(name, static_cast<int64_t>(value)); }
bool VexaSettings::SetBool(const char16_t* name, bool value) { return SetDword(name, value ? 1u : 0u); }
bool VexaSettings::SetBool(const char* name, bool value) { return SetDword(name, value ? 1u : 0u); }

bool VexaSettings::SetString(const char16_t* name, const char* value) {
  return SetString(name, SettingsWide(value).c_str());
}
bool VexaSettings::SetString(const char* name, const char* value) {
  return SetString(SettingsWide(name).c_str(), SettingsWide(value).c_str());
}
bool VexaSettings::SetString(const char16_t* name, const char16_t* value) {
  if (!value) return false;
  const size_t length = std::char_traits<char16_t>::length(value);
  std::vector<uint8_t> bytes;
  bytes.reserve((length + 1) * 2);
  for (size_t i = 0; i <= length; ++i) {  // with the terminator
    bytes.push_back(static_cast<uint8_t>(value[i] & 0xFF));
    bytes.push_back(static_cast<uint8_t>(value[i] >> 8));
  }
  return WriteValue(name, kRegSz, bytes.data(), bytes.size());
}
bool VexaSettings::SetString(const char* name, const char16_t* value) {
  return SetString(SettingsWide(name).c_str(), value);
}

bool VexaSettings::SetBinary(const char16_t* name, const void* data, uint32_t size) {
  if (!data && size != 0) return false;
  return WriteValue(name, kRegBinary, data, size);
}
bool VexaSettings::SetBinary(const char* name, const void* data, uint32_t size) {
  return SetBinary(SettingsWide(name).c_str(), data, size);
}

// ---- reads

bool VexaSettings::GetInt64(const char16_t* name, int64_t& value) {
  RegValue found;
  if (!ReadValue(name, AcceptInteger, found)) return false;
  value = static_cast<int64_t>(LittleEndian(found.data));
  return true;
}
bool VexaSettings::GetInt64(const char* name, int64_t& value) { return GetInt64(SettingsWide(name).c_str(), value); }

bool VexaSettings::GetInt32(const char16_t* name, int32_t& value) {
  int64_t wide;
  if (!GetInt64(name, wide)) return false;
  value = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
  return true;
}
bool VexaSettings::GetInt32(const char* name, int32_t& value) { return GetInt32(SettingsWide(name).c_str(), value); }

bool VexaSettings::GetUInt32(const char16_t* name, uint32_t& value) {
  int64_t wide;
  if (!GetInt64(name, wide)) return false;
  value = static_cast<uint32_t>(static_cast<uint64_t>(wide));
  return true;
}
bool VexaSettings::GetUInt32(const char* name, uint32_t& value) { return GetUInt32(SettingsWide(name).c_str(), value); }

bool VexaSettings::GetLongLong(const char16_t* name, int64_t& value) { return GetInt64(name, value); }
bool VexaSettings::GetLongLong(const char* name, int64_t& value) { return GetInt64(name, value); }

bool VexaSettings::GetULongLong(const char16_t* name, uint64_t& value) {
  int64_t wide;
  if (!GetInt64(name, wide)) return false;
  value = static_cast<uint64_t>(wide);
  return true;
}
bool VexaSettings::GetULongLong(const char* name, uint64_t& value) { return GetULongLong(SettingsWide(name).c_str(), value); }

bool VexaSettings::GetDword(const char16_t* name, uint32_t& value) {
  RegValue found;
  if (!ReadValue(name, AcceptDword, found)) return false;
  value = static_cast<uint32_t>(LittleEndian(found.data));
  return true;
}
bool VexaSettings::GetDword(const char* name, uint32_t& value) { return GetDword(SettingsWide(name).c_str(), value); }

bool VexaSettings::GetQword(const char16_t* name, uint64_t& value) {
  RegValue found;
  if (!ReadValue(name, AcceptQword, found)) return false;
  value = LittleEndian(found.data);
  return true;
}
bool VexaSettings::GetQword(const char* name, uint64_t& value) { return GetQword(SettingsWide(name).c_str(), value); }

bool VexaSettings::GetBool(const char16_t* name, bool& value) {
  uint32_t number;
  if (!GetDword(name, number)) return false;
  value = number != 0;
  return true;
}
bool VexaSettings::GetBool(const char* name, bool& value) { return GetBool(SettingsWide(name).c_str(), value); }

bool VexaSettings::GetString(const char16_t* name, std::u16string& value) {
  RegValue found;
  if (!ReadValue(name, AcceptString, found)) return false;
  // (size + 2) / 2 + 1 zeroed characters hold the data whatever its terminator; the text ends at
  // the first 0.
  std::u16string buffer((found.data.size() + 2) / 2 + 1, u'\0');
  std::memcpy(buffer.data(), found.data.data(), found.data.size());
  value.assign(buffer.c_str());
  return true;
}
bool VexaSettings::GetString(const char* name, std::u16string& value) { return GetString(SettingsWide(name).c_str(), value); }

bool VexaSettings::GetString(const char16_t* name, std::string& value) {
  std::u16string wide;
  if (!GetString(name, wide)) return false;
  value = SettingsNarrow(wide);
  return true;
}
bool VexaSettings::GetString(const char* name, std::string& value) { return GetString(SettingsWide(name).c_str(), value); }

bool VexaSettings::GetBinary(const char16_t* name, vetl::MemoryBuffer<uint8_t>& value) {
  RegValue found;
  if (!ReadValue(name, AcceptBinary, found)) return false;
  value.Resize(static_cast<uint32_t>(found.data.size()), false);
  if (value.Count() != found.data.size()) return false;
  std::memcpy(value.Data(), found.data.data(), found.data.size());
  return true;
}
bool VexaSettings::GetBinary(const char* name, vetl::MemoryBuffer<uint8_t>& value) {
  return GetBinary(SettingsWide(name).c_str(), value);
}

// ---- deletion

bool VexaSettings::DeleteKey() {
  Close();
  m_children.clear();
  if (m_fullPath.find(kRoot) == std::u16string::npos) return false;
  if (m_hive != Hive::User && m_hive != Hive::Machine) return false;
  return RegDeleteTree(m_hive, m_fullPath);
}

bool VexaSettings::DeleteValue(const char16_t* name) {
  if (!name || !Open()) return false;
  const RegKey* primary = IsPrimaryUser(m_accessMode) ? m_userKey.get() : m_machineKey.get();
  m_lastResult = primary ? RegDeleteValue(*primary, name) : StoreResult::kAccessDenied;
  return m_lastResult == StoreResult::kOk;
}
bool VexaSettings::DeleteValue(const char* name) { return DeleteValue(SettingsWide(name).c_str()); }

// ---- entry points

bool OpenSettings(bool install, bool create, const char16_t* product, bool readOnly, SettingsPtr& out) {
  if (!product || !*product) return false;
  int32_t mode;
  if (install)
    mode = create ? kAccessMachineCreate : readOnly ? kAccessMachineRead : kAccessMachineAll;
  else
    mode = create ? kAccessUserCreateMachineAll : readOnly ? kAccessUserReadMachineRead : kAccessUserAllMachineAll;
  const std::u16string path = (install ? u"Install/" : u"Settings/") + Wide(product);
  return VexaSettings::CreateFromPath(nullptr, path, mode, out);
}

bool OpenSettingsPath(const char16_t* keyPath, int32_t accessMode, SettingsPtr& out) {
  if (!keyPath || !*keyPath || accessMode < kAccessUserAll || accessMode > kAccessMachineCreate) return false;
  return VexaSettings::CreateFromPath(nullptr, keyPath, accessMode, out);
}

bool ReadSettingString(const char16_t* product, const char16_t* name, std::string& value) {
  SettingsPtr settings;
  if (!OpenSettings(false, false, product, true, settings)) return false;
  return settings->GetString(name, value);
}

bool ReadSettingString(const char* product, const char* name, std::string& value) {
  SettingsPtr settings;
  if (!OpenSettings(false, false, SettingsWide(product).c_str(), true, settings)) return false;
  return settings->GetString(name, value);
}

}  // namespace veds
