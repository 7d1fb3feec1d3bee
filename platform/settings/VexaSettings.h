// The settings store: one node per registry key, with typed values, child keys by path,
// enumeration and deletion, over the two-layer registry of RegistryStore.h.
//
// Key paths below "SOFTWARE\Vexa\" are written with "/" or "\": a product's settings are
// "Settings/<product>", its installation data "Install/<product>". Names are UTF-16; every
// operation taking a wide name has a twin taking a UTF-8 name (an ill-formed UTF-8 name becomes
// empty, and an empty value name is refused). Operations answer true when done.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/settings/RegistryStore.h"
#include "platform/settings/Vetl.h"

namespace veds {

// How a node opens its keys, fixed at creation. The primary key is the one writes use and reads
// try first; modes 2, 5 and 8 read the machine key when the user key does not answer.
//   mode  user key            machine key          primary
//   1     open, all access    -                    user
//   2     open, all access    open, all access     user
//   3     -                   open, all access     machine
//   4     open, read          -                    user
//   5     open, read          open, read           user
//   6     -                   open, read           machine
//   7     create, all access  -                    user
//   8     create, all access  open, all access     user
//   9     -                   create, all access   machine
enum AccessMode : int32_t {
  kAccessUserAll = 1,
  kAccessUserAllMachineAll = 2,
  kAccessMachineAll = 3,
  kAccessUserRead = 4,
  kAccessUserReadMachineRead = 5,
  kAccessMachineRead = 6,
  kAccessUserCreate = 7,
  kAccessUserCreateMachineAll = 8,
  kAccessMachineCreate = 9,
};

class IVexaSettings;
using SettingsPtr = vetl::RefCountedPtr<IVexaSettings>;

class IVexaSettings : public vetl::IRefCounted {
 public:
  // Slots 4 to 13: names, children, enumeration.
  virtual bool GetName(std::u16string& name) = 0;
  virtual bool GetName(std::string& name) = 0;
  virtual bool GetChildCount(uint32_t& count) = 0;
  virtual bool GetChildNames(std::set<std::u16string>& names) = 0;
  virtual bool GetChildNames(std::set<std::string>& names) = 0;
  virtual bool OpenChild(const char16_t* path, SettingsPtr& child) = 0;
  virtual bool OpenChild(const char* path, SettingsPtr& child) = 0;
  virtual bool GetValueCount(uint32_t& count) = 0;
  virtual bool GetValueNames(std::set<std::u16string>& names) = 0;
  virtual bool GetValueNames(std::set<std::string>& names) = 0;
  // Slots 14 to 35: writes (primary key only).
  virtual bool SetInt64(const char16_t* name, int64_t value) = 0;       // REG_QWORD
  virtual bool SetInt64(const char* name, int64_t value) = 0;
  virtual bool SetInt32(const char16_t* name, int32_t value) = 0;       // sign-extended QWORD
  virtual bool SetInt32(const char* name, int32_t value) = 0;
  virtual bool SetUInt32(const char16_t* name, uint32_t value) = 0;     // zero-extended QWORD
  virtual bool SetUInt32(const char* name, uint32_t value) = 0;
  virtual bool SetLongLong(const char16_t* name, int64_t value) = 0;    // QWORD
  virtual bool SetLongLong(const char* name, int64_t value) = 0;
  virtual bool SetULongLong(const char16_t* name, uint64_t value) = 0;  // QWORD
  virtual bool SetULongLong(const char* name, uint64_t value) = 0;
  virtual bool SetDword(const char16_t* name, uint32_t value) = 0;      // REG_DWORD
  virtual bool SetDword(const char* name, uint32_t value) = 0;
  virtual bool SetQword(const char16_t* name, uint64_t value) = 0;      // REG_QWORD
  virtual bool SetQword(const char* name, uint64_t value) = 0;
  virtual bool SetBool(const char16_t* name, bool value) = 0;           // REG_DWORD 0 or 1
  virtual bool SetBool(const char* name, bool value) = 0;
  virtual bool SetString(const char16_t* name, const char* value) = 0;  // REG_SZ; UTF-8 value
  virtual bool SetString(const char* name, const char* value) = 0;
  virtual bool SetString(const char16_t* name, const char16_t* value) = 0;
  virtual bool SetString(const char* name, const char16_t* value) = 0;
  virtual bool SetBinary(const char16_t* name, const void* data, uint32_t size) = 0;  // REG_BINARY
  virtual bool SetBinary(const char* name, const void* data, uint32_t size) = 0;
  // Slots 36 to 57: reads (primary key, then the secondary of modes 2, 5, 8).
  virtual bool GetInt64(const char16_t* name, int64_t& value) = 0;  // REG_QWORD or REG_DWORD
  virtual bool GetInt64(const char* name, int64_t& value) = 0;
  virtual bool GetInt32(const char16_t* name, int32_t& value) = 0;  // low word of GetInt64
  virtual bool GetInt32(const char* name, int32_t& value) = 0;
  virtual bool GetUInt32(const char16_t* name, uint32_t& value) = 0;
  virtual bool GetUInt32(const char* name, uint32_t& value) = 0;
  virtual bool GetLongLong(const char16_t* name, int64_t& value) = 0;  // GetInt64
  virtual bool GetLongLong(const char* name, int64_t& value) = 0;
  virtual bool GetULongLong(const char16_t* name, uint64_t& value) = 0;
  virtual bool GetULongLong(const char* name, uint64_t& value) = 0;
  virtual bool GetDword(const char16_t* name, uint32_t& value) = 0;  // REG_DWORD of 4 bytes
  virtual bool GetDword(const char* name, uint32_t& value) = 0;
  virtual bool GetQword(const char16_t* name, uint64_t& value) = 0;  // REG_QWORD of 8 bytes
  virtual bool GetQword(const char* name, uint64_t& value) = 0;
  virtual bool GetBool(const char16_t* name, bool& value) = 0;       // REG_DWORD, not 0
  virtual bool GetBool(const char* name, bool& value) = 0;
  virtual bool GetString(const char16_t* name, std::string& value) = 0;  // UTF-8 of REG_SZ
  virtual bool GetString(const char* name, std::string& value) = 0;
  virtual bool GetString(const char16_t* name, std::u16string& value) = 0;  // REG_SZ only
  virtual bool GetString(const char* name, std::u16string& value) = 0;
  virtual bool GetBinary(const char16_t* name, vetl::MemoryBuffer<uint8_t>& value) = 0;  // REG_BINARY
  virtual bool GetBinary(const char* name, vetl::MemoryBuffer<uint8_t>& value) = 0;
  // Slot 58: this node's key with every subkey, in the layer recorded by the last open; refused
  // outside "SOFTWARE\Vexa\". Slots 59, 60: a value of the primary key.
  virtual bool DeleteKey() = 0;
  virtual bool DeleteValue(const char16_t* name) = 0;
  virtual bool DeleteValue(const char* name) = 0;
};

class VexaSettings : public IVexaSettings {
 public:
  // A node for `fullPath` (below a layer's root, e.g. "SOFTWARE\Vexa\Settings\P") named `name`.
  VexaSettings(std::u16string fullPath, std::u16string name, int32_t accessMode);
  ~VexaSettings() override;

  int32_t AddRef() override;
  int32_t Release() override;
  int32_t GetRefCount() const override;

  bool GetName(std::u16string& name) override;
  bool GetName(std::string& name) override;
  bool GetChildCount(uint32_t& count) override;
  bool GetChildNames(std::set<std::u16string>& names) override;
  bool GetChildNames(std::set<std::string>& names) override;
  bool OpenChild(const char16_t* path, SettingsPtr& child) override;
  bool OpenChild(const char* path, SettingsPtr& child) override;
  bool GetValueCount(uint32_t& count) override;
  bool GetValueNames(std::set<std::u16string>& names) override;
  bool GetValueNames(std::set<std::string>& names) override;
  bool SetInt64(const char16_t* name, int64_t value) override;
  bool SetInt64(const char* name, int64_t value) override;
  bool SetInt32(const char16_t* name, int32_t value) override;
  bool SetInt32(const char* name, int32_t value) override;
  bool SetUInt32(const char16_t* name, uint32_t value) override;
  bool SetUInt32(const char* name, uint32_t value) override;
  bool SetLongLong(const char16_t* name, int64_t value) override;
  bool SetLongLong(const char* name, int64_t value) override;
  bool SetULongLong(const char16_t* name, uint64_t value) override;
  bool SetULongLong(const char* name, uint64_t value) override;
  bool SetDword(const char16_t* name, uint32_t value) override;
  bool SetDword(const char* name, uint32_t value) override;
  bool SetQword(const char16_t* name, uint64_t value) override;
  bool SetQword(const char* name, uint64_t value) override;
  bool SetBool(const char16_t* name, bool value) override;
  bool SetBool(const char* name, bool value) override;
  bool SetString(const char16_t* name, const char* value) override;
  bool SetString(const char* name, const char* value) override;
  bool SetString(const char16_t* name, const char16_t* value) override;
  bool SetString(const char* name, const char16_t* value) override;
  bool SetBinary(const char16_t* name, const void* data, uint32_t size) override;
  bool SetBinary(const char* name, const void* data, uint32_t size) override;
  bool GetInt64(const char16_t* name, int64_t& value) override;
  bool GetInt64(const char* name, int64_t& value) override;
  bool GetInt32(const char16_t* name, int32_t& value) override;
  bool GetInt32(const char* name, int32_t& value) override;
  bool GetUInt32(const char16_t* name, uint32_t& value) override;
  bool GetUInt32(const char* name, uint32_t& value) override;
  bool GetLongLong(const char16_t* name, int64_t& value) override;
  bool GetLongLong(const char* name, int64_t& value) override;
  bool GetULongLong(const char16_t* name, uint64_t& value) override;
  bool GetULongLong(const char* name, uint64_t& value) override;
  bool GetDword(const char16_t* name, uint32_t& value) override;
  bool GetDword(const char* name, uint32_t& value) override;
  bool GetQword(const char16_t* name, uint64_t& value) override;
  bool GetQword(const char* name, uint64_t& value) override;
  bool GetBool(const char16_t* name, bool& value) override;
  bool GetBool(const char* name, bool& value) override;
  bool GetString(const char16_t* name, std::string& value) override;
  bool GetString(const char* name, std::string& value) override;
  bool GetString(const char16_t* name, std::u16string& value) override;
  bool GetString(const char* name, std::u16string& value) override;
  bool GetBinary(const char16_t* name, vetl::MemoryBuffer<uint8_t>& value) override;
  bool GetBinary(const char* name, vetl::MemoryBuffer<uint8_t>& value) override;
  bool DeleteKey() override;
  bool DeleteValue(const char16_t* name) override;
  bool DeleteValue(const char* name) override;

  // Opens the keys as the access mode says (done when the primary key is open already).
  bool Open();
  const std::u16string& FullPath() const { return m_fullPath; }
  int32_t GetAccessMode() const { return m_accessMode; }
  Hive RecordedHive() const { return m_hive; }
  // What the last value read, write or enumeration of this node came to: the slots answer only
  // true or false, this tells a damaged store from a missing value.
  StoreResult LastResult() const { return m_lastResult; }

  // Builds the nodes of `path` ("/" or "\" separated) below `parent` (or below "SOFTWARE\Vexa\"
  // without one) with `accessMode`, opens the last one and hands it out.
  static bool CreateFromPath(VexaSettings* parent, std::u16string_view path, int32_t accessMode,
                             SettingsPtr& out);

 private:
  // The keys reads try, in order.
  int KeysToRead(const RegKey* keys[2]) const;
  bool ReadValue(const char16_t* name, bool (*accept)(const RegValue&), RegValue& value);
  bool WriteValue(const char16_t* name, uint32_t type, const void* data, size_t size);
  bool CollectNames(bool subkeys, std::set<std::u16string>& names);
  void Close();

  int32_t m_refCount = 0;
  std::u16string m_fullPath;
  std::u16string m_name;
  int32_t m_accessMode;
  Hive m_hive = Hive::None;
  StoreResult m_lastResult = StoreResult::kOk;
  std::unique_ptr<RegKey> m_userKey;
  std::unique_ptr<RegKey> m_machineKey;
  std::map<std::u16string, vetl::RefCountedPtr<VexaSettings>> m_children;
};

// The key "Install/<product>" (install) or "Settings/<product>" with the access mode: install 9
// when creating, else 6 when read-only, else 3; not install 8, 5, 2. An empty product fails
// without touching the registry.
bool OpenSettings(bool install, bool create, const char16_t* product, bool readOnly, SettingsPtr& out);
// Any key path below "SOFTWARE\Vexa\" (e.g. "Settings/VexaMediaServer") with any access mode.
bool OpenSettingsPath(const char16_t* keyPath, int32_t accessMode, SettingsPtr& out);

// The string `name` of `product`'s settings, user layer over machine layer, as UTF-8.
bool ReadSettingString(const char16_t* product, const char16_t* name, std::string& value);
bool ReadSettingString(const char* product, const char* name, std::string& value);

// The conversions the store uses for names and values: ill-formed input gives an empty string;
// surrogate code points in UTF-8, and values above U+10FFFF, become U+FFFD.
std::u16string SettingsWide(const char* utf8);
std::string SettingsNarrow(std::u16string_view wide);

}  // namespace veds
