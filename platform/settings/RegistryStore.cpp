// The store's operations on keys and values, over the key paths (KeyPaths), the values file's
// form (ValuesFile) and atomic replacement (AtomicWrite).
#include "platform/settings/RegistryStore.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/settings/AtomicWrite.h"
#include "platform/settings/KeyPaths.h"
#include "platform/settings/ValuesFile.h"
#include "platform/os/DirectoryHandle.h"

namespace veds {
namespace {

constexpr char kValuesFile[] = ".vexa-values";
constexpr char kDeletedPrefix[] = ".vexa-deleted";

// Reads the values of a key; a missing file is a key without values.
StoreResult LoadValues(const std::string& directory, ValuesFile& file) {
  file = ValuesFile{};
  std::string text;
  bool missing = false;
  if (!ReadWholeFile(directory + "/" + kValuesFile, text, missing))
    return missing ? StoreResult::kOk : StoreResult::kIoFailed;
  ParseValues(text, file);
  return StoreResult::kOk;
}

bool StoreValues(const std::string& directory, const ValuesFile& file) {
  return ReplaceFile(directory, kValuesFile, FormatValues(file));
}

}  // namespace

bool RegOpenKey(Hive hive, std::u16string_view path, bool create, bool write, RegKey& key) {
  std::string directory = HiveRoot(hive);
  if (directory.empty()) return false;
  if (create && !MakeDirectories(directory)) return false;
  for (std::u16string_view segment : SplitPath(path)) {
    std::string entry;
    if (!ValidKeyName(segment, entry)) return false;
    std::string found = FindSubkey(directory, segment);
    if (found.empty()) {
      if (!create) return false;
      KeyLock lock(directory);  // no two creators make "Key" and "KEY" side by side
      if (!lock.Held()) return false;
      found = FindSubkey(directory, segment);
      if (found.empty()) {
        found = directory + "/" + entry;
        if (::mkdir(found.c_str(), 0755) != 0 && errno != EEXIST) return false;
      }
    }
    directory = std::move(found);
  }
  const int access = R_OK | X_OK | (write ? W_OK : 0);
  if (::access(directory.c_str(), access) != 0) return false;
  key.hive = hive;
  key.directory = std::move(directory);
  key.writable = write;
  return true;
}

StoreResult RegQueryValue(const RegKey& key, std::u16string_view name, RegValue& value) {
  ValuesFile file;
  if (key.directory.empty()) return StoreResult::kBadArgument;
  if (StoreResult loaded = LoadValues(key.directory, file); loaded != StoreResult::kOk) return loaded;
  auto found = FindLine(file, name);
  if (found == file.lines.end()) return file.damaged ? StoreResult::kDamaged : StoreResult::kNotFound;
  if (found->kind != ValueLine::kValue) return StoreResult::kUnknownType;
  value = std::move(found->value);
  return StoreResult::kOk;
}

namespace {

// Loads the key's values under its lock, lets `change` edit them and stores the result. A
// damaged file is never rewritten: what could not be read would be lost with it.
template <typename Change>
StoreResult RewriteValues(const RegKey& key, Change change) {
  if (!key.writable || key.directory.empty()) return StoreResult::kAccessDenied;
  KeyLock lock(key.directory);
  if (!lock.Held()) return StoreResult::kIoFailed;
  ValuesFile file;
  if (StoreResult loaded = LoadValues(key.directory, file); loaded != StoreResult::kOk) return loaded;
  if (file.damaged) return StoreResult::kDamaged;
  if (StoreResult changed = change(file); changed != StoreResult::kOk) return changed;
  return StoreValues(key.directory, file) ? StoreResult::kOk : StoreResult::kIoFailed;
}

}  // namespace

StoreResult RegSetValue(const RegKey& key, std::u16string_view name, const RegValue& value) {
  if (name.empty() || !IsWellShaped(value)) return StoreResult::kBadArgument;
  return RewriteValues(key, [&](ValuesFile& file) {
    auto found = FindLine(file, name);
    if (found == file.lines.end()) found = file.lines.insert(file.lines.end(), ValueLine{ValueLine::kValue, std::u16string(name), {}, {}});
    found->kind = ValueLine::kValue;  // a foreign value of this name is replaced, as any other
    found->value = value;
    found->body.clear();
    return StoreResult::kOk;
  });
}

StoreResult RegDeleteValue(const RegKey& key, std::u16string_view name) {
  return RewriteValues(key, [&](ValuesFile& file) {
    auto found = FindLine(file, name);
    if (found == file.lines.end()) return StoreResult::kNotFound;
    file.lines.erase(found);
    return StoreResult::kOk;
  });
}

StoreResult RegEnumValueNames(const RegKey& key, std::vector<std::u16string>& names) {
  names.clear();
  ValuesFile file;
  if (key.directory.empty()) return StoreResult::kBadArgument;
  if (StoreResult loaded = LoadValues(key.directory, file); loaded != StoreResult::kOk) return loaded;
  for (auto& line : file.lines)
    if (!line.name.empty()) names.push_back(std::move(line.name));
  return file.damaged ? StoreResult::kDamaged : StoreResult::kOk;
}

bool RegEnumSubkeys(const RegKey& key, std::vector<std::u16string>& names) {
  names.clear();
  VexaOS::DirectoryHandle handle = key.directory.empty() ? nullptr : VexaOS::OpenDirectory(key.directory.c_str());
  if (!handle) return false;
  std::vector<std::string> entries;
  while (dirent* item = ::readdir(handle.get())) {
    std::string_view entry(item->d_name);
    if (entry == "." || entry == ".." || IsReserved(entry)) continue;
    struct stat info;
    const std::string full = key.directory + "/" + item->d_name;
    if (::stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) entries.emplace_back(entry);
  }
  std::sort(entries.begin(), entries.end());
  for (const auto& entry : entries) {
    std::u16string name;
    if (FromWtf8(entry, name)) names.push_back(std::move(name));
  }
  return true;
}

bool RegDeleteTree(Hive hive, std::u16string_view path) {
  RegKey key;
  if (!RegOpenKey(hive, path, false, true, key)) return false;
  const std::string parent = key.directory.substr(0, key.directory.rfind('/'));
  const std::string hidden = parent + "/" + kDeletedPrefix + UniqueSuffix();
  {
    KeyLock lock(parent);
    if (!lock.Held() || ::rename(key.directory.c_str(), hidden.c_str()) != 0) return false;
  }
  std::error_code error;
  std::filesystem::remove_all(hidden, error);
  return !error;
}

}  // namespace veds
