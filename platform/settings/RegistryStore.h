// The registry: two layers (hives), a user layer over a machine layer. On Windows these are the
// registry's own hives (platform/settings/win32/RegistryStore.cpp says how tests redirect them);
// elsewhere each is a directory tree on disk, as follows.
//
//   user layer     $VEXA_SETTINGS_USER_ROOT, else $XDG_CONFIG_HOME/vexa/registry,
//                  else ~/.config/vexa/registry
//   machine layer  $VEXA_SETTINGS_MACHINE_ROOT, else /etc/vexa/registry
//
// A key is a directory below its layer's root, named as it was first created: the key
// SOFTWARE\Vexa\Settings\VexaMediaServer is <root>/SOFTWARE/Vexa/Settings/VexaMediaServer. Its values live in
// the one file ".vexa-values" of that directory (a text file, one value a line, each with a
// CRC-32 check, and a count of the lines at the end; files of the first, unchecked version are
// still read). Key paths and
// value names compare case-insensitively (by Unicode simple upper case of each UTF-16 unit), as
// registry names do. Names beginning ".vexa-" are the store's own and are not keys.
//
// Writes take an exclusive lock on the key (".vexa-lock"), read the file, write the new one to a
// temporary file, flush it to disk and rename it over the old one: readers, which take no lock,
// see the old or the new file whole, and a writer killed midway leaves the old file. Deleting a
// key renames its directory out of sight under the parent's lock before removing it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veds {

// Value types, with the registry's numbers.
enum : uint32_t {
  kRegUnknown = 0,  // a type name this build does not know
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegQword = 11,
};

enum class Hive { None = 0, User = 1, Machine = 2 };

// What a store operation came to.
enum class StoreResult : int32_t {
  kOk = 0,
  kNotFound,      // no such key or value
  kUnknownType,   // the value has a type this build does not know (kept as it is)
  kDamaged,       // the key's values file fails its checks: lines cut, lost or altered
  kBadArgument,   // an empty or reserved name, or data of the wrong shape for its type
  kAccessDenied,  // the key was opened for reading only
  kIoFailed,      // the file system refused
};

// Registry data as bytes: strings are UTF-16LE units with a terminating 0 unit, a DWORD 4
// little-endian bytes, a QWORD 8.
struct RegValue {
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

// The root directory of a layer, from the environment at the time of the call.
std::string HiveRoot(Hive hive);

// Bytes as lower-case hexadecimal, two digits each: how binary values are written and shown.
inline std::string HexBytes(const std::vector<uint8_t>& bytes) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (uint8_t byte : bytes) {
    out.push_back(hex[byte >> 4]);
    out.push_back(hex[byte & 15]);
  }
  return out;
}

// An opened key. It holds no system handle (each operation opens and closes what it needs), so
// whoever holds the struct owns the key and nothing has to be closed when it goes.
struct RegKey {
  Hive hive = Hive::None;
  std::string directory;  // absolute; on Windows the key's path below its hive, UTF-8
  bool writable = false;
};

// Opens the key at `path` (segments separated by backslashes) in `hive`; with create, missing
// keys (and the layer's root) are made. `write` asks for all access: the key's directory must be
// writable. Fails for an empty segment, "." or "..", or a name of the store's own.
bool RegOpenKey(Hive hive, std::u16string_view path, bool create, bool write, RegKey& key);

// kDamaged when the value is not among what could be read and the file is damaged.
StoreResult RegQueryValue(const RegKey& key, std::u16string_view name, RegValue& value);
// Adds or replaces a value (a replaced value keeps its name as first written). Fails on a
// read-only key, an empty name, an unknown type, or data of the wrong shape for its type; a
// damaged values file is left as it is (kDamaged) until it is repaired or the key deleted.
StoreResult RegSetValue(const RegKey& key, std::u16string_view name, const RegValue& value);
StoreResult RegDeleteValue(const RegKey& key, std::u16string_view name);
// Value names in the order they were first written; kDamaged (with the names that could be
// read) when the file is damaged.
StoreResult RegEnumValueNames(const RegKey& key, std::vector<std::u16string>& names);
// Subkey names, in byte order of their UTF-8 names.
bool RegEnumSubkeys(const RegKey& key, std::vector<std::u16string>& names);
// Removes the key at `path` with everything below it; false when it does not exist or cannot be
// removed.
bool RegDeleteTree(Hive hive, std::u16string_view path);

#ifndef _WIN32
// Where a rewrite of a values file stands: a test stops a writer at one of these points and
// kills it there, since a killed writer must leave the old or the new values, never a mix.
enum class WritePoint { kHalfWritten, kReplaced };
using WriteObserver = void (*)(WritePoint point);
// Installs the observer (null: none) for this process.
void SetWriteObserver(WriteObserver observer);
#endif  // the registry writes a value whole by itself: nothing to observe there

// Case-insensitive comparison of registry names, and the folded form that compares so.
bool RegNamesEqual(std::u16string_view a, std::u16string_view b);
std::u16string RegFoldName(std::u16string_view name);

}  // namespace veds
