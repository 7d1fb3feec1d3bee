// The store over the Windows registry. Each layer is a hive: the user layer HKEY_CURRENT_USER,
// the machine layer HKEY_LOCAL_MACHINE. VEXA_SETTINGS_USER_ROOT and VEXA_SETTINGS_MACHINE_ROOT
// name a key below HKEY_CURRENT_USER that stands in for a layer's hive: tests set both, so they
// never touch the real settings and need no administrator rights for the machine layer.
//
// A RegKey holds the key's path below its hive (as UTF-8 in `directory`); every operation opens
// the key for what it needs and closes it again. The registry compares names without case and
// writes each value whole (RegSetValueExW), so no lock or temporary file is needed here.
#include "platform/settings/RegistryStore.h"

#include <windows.h>
// The system's header names its own functions like the store's (RegOpenKey for RegOpenKeyW, and
// so on); the store's names are meant here, and the system's are called by their W names.
#undef RegOpenKey
#undef RegQueryValue
#undef RegSetValue
#undef RegDeleteValue
#undef RegDeleteTree

#include <algorithm>
#include <cstdlib>

#include "platform/files/TextConvert.h"

namespace veds {
namespace {

// The RAII owner of one registry key handle.
class ScopedLMKey {
 public:
  ScopedLMKey() = default;
  ScopedLMKey(const ScopedLMKey&) = delete;
  ScopedLMKey& operator=(const ScopedLMKey&) = delete;
  ~ScopedLMKey() { Reset(); }

  HKEY Get() const { return m_key; }
  // Closes what is held and hands out the slot for a call that opens a key.
  HKEY* Receive() {
    Reset();
    return &m_key;
  }
  void Reset() {
    if (m_key) ::RegCloseKey(m_key);
    m_key = nullptr;
  }

 private:
  HKEY m_key = nullptr;
};

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

const char* RootOverride(Hive hive) {
  const char* root = std::getenv(hive == Hive::User ? "VEXA_SETTINGS_USER_ROOT" : "VEXA_SETTINGS_MACHINE_ROOT");
  return root && *root ? root : nullptr;
}

// The hive key of a layer and the path below it that stands for the layer's top ("" or
// "Override\").
bool LayerBase(Hive hive, HKEY& root, std::u16string& prefix) {
  if (hive != Hive::User && hive != Hive::Machine) return false;
  prefix.clear();
  root = hive == Hive::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  if (const char* override = RootOverride(hive)) {
    if (!VexaFiles::Utf8ToUtf16String(override, prefix)) return false;
    std::replace(prefix.begin(), prefix.end(), u'/', u'\\');
    prefix.push_back(u'\\');
    root = HKEY_CURRENT_USER;
  }
  return true;
}

// A key path below the layer's top: segments separated by backslashes, none empty.
bool ValidPath(std::u16string_view path) {
  if (path.empty() || path.front() == u'\\' || path.back() == u'\\') return false;
  return path.find(u"\\\\") == std::u16string_view::npos;
}

bool OpenAt(HKEY root, const std::u16string& fullPath, bool create, REGSAM access, ScopedLMKey& key) {
  if (create)
    return ::RegCreateKeyExW(root, Wide(fullPath), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                             key.Receive(), nullptr) == ERROR_SUCCESS;
  return ::RegOpenKeyExW(root, Wide(fullPath), 0, access, key.Receive()) == ERROR_SUCCESS;
}

// Opens the key a RegKey names, for `access`.
bool OpenKey(const RegKey& key, REGSAM access, ScopedLMKey& handle) {
  HKEY root;
  std::u16string prefix, path;
  if (key.directory.empty() || !LayerBase(key.hive, root, prefix)) return false;
  if (!VexaFiles::Utf8ToUtf16String(key.directory, path)) return false;
  return OpenAt(root, path, false, access, handle);
}

bool WellShaped(const RegValue& value) {
  const size_t size = value.data.size();
  switch (value.type) {
    case kRegSz:
    case kRegExpandSz:
      return size >= 2 && size % 2 == 0 && value.data[size - 1] == 0 && value.data[size - 2] == 0;
    case kRegDword: return size == 4;
    case kRegQword: return size == 8;
    case kRegBinary: return true;
    default: return false;
  }
}

bool KnownType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_BINARY || type == REG_DWORD || type == REG_QWORD;
}

StoreResult FromError(LONG error) {
  switch (error) {
    case ERROR_SUCCESS: return StoreResult::kOk;
    case ERROR_FILE_NOT_FOUND: return StoreResult::kNotFound;
    case ERROR_ACCESS_DENIED: return StoreResult::kAccessDenied;
    default: return StoreResult::kIoFailed;
  }
}

}  // namespace

std::string HiveRoot(Hive hive) {
  if (hive != Hive::User && hive != Hive::Machine) return {};
  if (const char* override = RootOverride(hive)) return std::string("HKEY_CURRENT_USER\\") + override;
  return hive == Hive::User ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

bool RegOpenKey(Hive hive, std::u16string_view path, bool create, bool write, RegKey& key) {
  HKEY root;
  std::u16string fullPath;
  if (!ValidPath(path) || !LayerBase(hive, root, fullPath)) return false;
  fullPath.append(path);
  ScopedLMKey handle;
  if (!OpenAt(root, fullPath, create, write ? KEY_ALL_ACCESS : KEY_READ, handle)) return false;
  std::string utf8;
  if (!VexaFiles::Utf16ToUtf8String(fullPath, utf8)) return false;
  key.hive = hive;
  key.directory = std::move(utf8);
  key.writable = write;
  return true;
}

// Asks the size, then reads; a value that grew in between is asked again, so the value comes
// back whole as one writer left it.
StoreResult RegQueryValue(const RegKey& key, std::u16string_view name, RegValue& value) {
  if (name.empty()) return StoreResult::kBadArgument;
  ScopedLMKey handle;
  if (!OpenKey(key, KEY_QUERY_VALUE, handle)) return StoreResult::kNotFound;
  const std::u16string wanted(name);
  std::vector<uint8_t> data;
  DWORD type = 0;
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    const LONG error = ::RegQueryValueExW(handle.Get(), Wide(wanted), nullptr, &type, data.empty() ? nullptr : data.data(), &size);
    if (error == ERROR_MORE_DATA || (error == ERROR_SUCCESS && data.size() < size)) {
      data.resize(size);
      continue;
    }
    if (error != ERROR_SUCCESS) return FromError(error);
    data.resize(size);
    break;
  }
  if (!KnownType(type)) return StoreResult::kUnknownType;
  value.type = type;
  value.data = std::move(data);
  return StoreResult::kOk;
}

StoreResult RegSetValue(const RegKey& key, std::u16string_view name, const RegValue& value) {
  if (name.empty() || !WellShaped(value)) return StoreResult::kBadArgument;
  if (!key.writable) return StoreResult::kAccessDenied;
  ScopedLMKey handle;
  if (!OpenKey(key, KEY_SET_VALUE, handle)) return StoreResult::kIoFailed;
  const std::u16string target(name);
  return FromError(::RegSetValueExW(handle.Get(), Wide(target), 0, value.type, value.data.data(),
                                    static_cast<DWORD>(value.data.size())));
}

StoreResult RegDeleteValue(const RegKey& key, std::u16string_view name) {
  if (!key.writable) return StoreResult::kAccessDenied;
  if (name.empty()) return StoreResult::kBadArgument;
  ScopedLMKey handle;
  if (!OpenKey(key, KEY_SET_VALUE, handle)) return StoreResult::kIoFailed;
  const std::u16string target(name);
  return FromError(::RegDeleteValueW(handle.Get(), Wide(target)));
}

// The registry's own order; the unnamed default value is not listed.
StoreResult RegEnumValueNames(const RegKey& key, std::vector<std::u16string>& names) {
  names.clear();
  ScopedLMKey handle;
  if (!OpenKey(key, KEY_QUERY_VALUE, handle)) return StoreResult::kNotFound;
  DWORD longest = 0;
  if (::RegQueryInfoKeyW(handle.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longest,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return StoreResult::kIoFailed;
  std::u16string buffer(longest + 1, u'\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(buffer.size());
    const LONG error = ::RegEnumValueW(handle.Get(), index, reinterpret_cast<wchar_t*>(buffer.data()), &length,
                                       nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) return StoreResult::kOk;
    if (error == ERROR_MORE_DATA) {  // a longer name was added meanwhile: read this index again
      buffer.resize(buffer.size() * 2);
      --index;
      continue;
    }
    if (error != ERROR_SUCCESS) return StoreResult::kIoFailed;
    if (length > 0) names.emplace_back(buffer.data(), length);
  }
}

bool RegEnumSubkeys(const RegKey& key, std::vector<std::u16string>& names) {
  names.clear();
  ScopedLMKey handle;
  if (!OpenKey(key, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, handle)) return false;
  DWORD longest = 0;
  if (::RegQueryInfoKeyW(handle.Get(), nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  std::u16string buffer(longest + 1, u'\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(buffer.size());
    const LONG error = ::RegEnumKeyExW(handle.Get(), index, reinterpret_cast<wchar_t*>(buffer.data()), &length,
                                       nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) break;
    if (error == ERROR_SUCCESS) names.emplace_back(buffer.data(), length);
    // an index that fails (a key renamed meanwhile) is skipped
  }
  std::sort(names.begin(), names.end());
  return true;
}

bool RegDeleteTree(Hive hive, std::u16string_view path) {
  RegKey key;
  if (!RegOpenKey(hive, path, false, true, key)) return false;
  HKEY root;
  std::u16string prefix, fullPath;
  if (!LayerBase(hive, root, prefix) || !VexaFiles::Utf8ToUtf16String(key.directory, fullPath)) return false;
  // RegDeleteTreeW removes the named key itself with everything below it.
  return ::RegDeleteTreeW(root, Wide(fullPath)) == ERROR_SUCCESS;
}

// Upper case as the system maps it for every locale alike, unit by unit, as the registry folds.
std::u16string RegFoldName(std::u16string_view name) {
  std::u16string folded(name);
  if (folded.empty()) return folded;
  const int length = static_cast<int>(folded.size());
  std::u16string out(folded.size(), u'\0');
  if (::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, reinterpret_cast<const wchar_t*>(folded.data()), length,
                      reinterpret_cast<wchar_t*>(out.data()), length, nullptr, nullptr, 0) != length)
    return folded;
  return out;
}

bool RegNamesEqual(std::u16string_view a, std::u16string_view b) {
  return ::CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
                                reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace veds
