// vexa-settings: reads and writes the settings store (the two-layer registry) from a shell.
//
//   vexa-settings [--machine] set-string KEYPATH NAME VALUE
//   vexa-settings [--machine] get KEYPATH NAME
//   vexa-settings [--machine] list KEYPATH
//   vexa-settings [--machine] delete KEYPATH [NAME]
//
// KEYPATH names a key below SOFTWARE\Vexa, segments separated by "/" (or "\"), for example
// Settings/VexaMediaServer. Exit status: 0 done, 1 not found or failed, 2 wrong usage, 3 a values
// file of the store is damaged (what could be read is still shown).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/files/ProgramArguments.h"
#include "platform/files/TextConvert.h"
#include "platform/settings/RegistryStore.h"
#include "platform/settings/VexaSettings.h"

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kDamaged = 3;

const char* LayerName(veds::Hive hive) { return hive == veds::Hive::Machine ? "machine" : "user"; }

int ReportDamage(veds::Hive hive, const veds::RegKey& key) {
  std::fprintf(stderr, "vexa-settings: the values of the key in the %s layer are damaged (%s/.vexa-values)\n",
               LayerName(hive), key.directory.c_str());
  return kDamaged;
}

// The result of a write through a node, with the store's reason when it failed.
int WriteOutcome(bool done, const veds::SettingsPtr& key, const char* failure) {
  if (done) return kDone;
  const auto* node = static_cast<const veds::VexaSettings*>(key.Get());
  if (node->LastResult() == veds::StoreResult::kDamaged) {
    std::fputs("vexa-settings: the values of the key are damaged; nothing was changed\n", stderr);
    return kDamaged;
  }
  std::fprintf(stderr, "vexa-settings: %s\n", failure);
  return kFailed;
}

int Usage() {
  std::fputs(
      "usage: vexa-settings [--machine] set-string KEYPATH NAME VALUE\n"
      "       vexa-settings [--machine] get KEYPATH NAME\n"
      "       vexa-settings [--machine] list KEYPATH\n"
      "       vexa-settings [--machine] delete KEYPATH [NAME]\n"
      "KEYPATH is a key below SOFTWARE\\Vexa, e.g. Settings/VexaMediaServer.\n"
      "Without --machine: set-string and delete act on the user layer, get and list show the\n"
      "user layer over the machine layer; with --machine all act on the machine layer only.\n",
      stderr);
  return kUsage;
}

bool ToWide(const char* text, std::u16string& wide) {
  return VexaFiles::Utf8ToUtf16String(text, wide, VexaFiles::Utf8OutOfRange::Reject);
}

// "Settings/VexaMediaServer" -> "SOFTWARE\Vexa\Settings\VexaMediaServer"; false for an empty
// path or an empty segment.
bool RegistryPath(const std::u16string& keyPath, std::u16string& path) {
  if (keyPath.empty()) return false;
  path = u"SOFTWARE\\Vexa\\";
  char16_t previous = u'\\';
  for (char16_t c : keyPath) {
    if (c == u'/') c = u'\\';
    if (c == u'\\' && previous == u'\\') return false;
    path.push_back(c);
    previous = c;
  }
  return previous != u'\\';
}

std::string Narrow(std::u16string_view wide) {
  std::string narrow;
  VexaFiles::Utf16ToUtf8String(wide, narrow);
  return narrow;
}

const char* TypeName(uint32_t type) {
  switch (type) {
    case veds::kRegSz: return "sz";
    case veds::kRegExpandSz: return "expand_sz";
    case veds::kRegDword: return "dword";
    case veds::kRegQword: return "qword";
    case veds::kRegBinary: return "binary";
    default: return "unknown";
  }
}

std::string FormatValue(const veds::RegValue& value) {
  switch (value.type) {
    case veds::kRegSz:
    case veds::kRegExpandSz: {
      std::u16string text;
      for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
        if (unit == 0) break;
        text.push_back(unit);
      }
      return Narrow(text);
    }
    case veds::kRegDword:
    case veds::kRegQword: {
      unsigned long long number = 0;
      for (size_t i = value.data.size(); i > 0; --i) number = (number << 8) | value.data[i - 1];
      return std::to_string(number);
    }
    default:
      return veds::HexBytes(value.data);
  }
}

// For list: one entry a line, so tabs, line breaks and backslashes are written as \t, \n, \\.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\\') out += "\\\\";
    else out.push_back(c);
  }
  return out;
}

std::vector<veds::Hive> Layers(bool machine) {
  if (machine) return {veds::Hive::Machine};
  return {veds::Hive::User, veds::Hive::Machine};
}

int SetString(bool machine, const std::u16string& keyPath, const std::u16string& name, const std::u16string& value) {
  veds::SettingsPtr key;
  if (!veds::OpenSettingsPath(keyPath.c_str(), machine ? veds::kAccessMachineCreate : veds::kAccessUserCreate, key)) {
    std::fprintf(stderr, "vexa-settings: cannot create or open the key in the %s layer (%s)\n",
                 machine ? "machine" : "user", veds::HiveRoot(machine ? veds::Hive::Machine : veds::Hive::User).c_str());
    return kFailed;
  }
  return WriteOutcome(key->SetString(name.c_str(), value.c_str()), key, "cannot write the value");
}

int Get(bool machine, const std::u16string& path, const std::u16string& name) {
  for (veds::Hive hive : Layers(machine)) {
    veds::RegKey key;
    veds::RegValue value;
    if (!veds::RegOpenKey(hive, path, false, false, key)) continue;
    const veds::StoreResult result = veds::RegQueryValue(key, name, value);
    if (result == veds::StoreResult::kOk) {
      std::printf("%s\n", FormatValue(value).c_str());
      return kDone;
    }
    if (result == veds::StoreResult::kDamaged) return ReportDamage(hive, key);  // no silent fallback
  }
  std::fputs("vexa-settings: no such value\n", stderr);
  return kFailed;
}

int List(bool machine, const std::u16string& path) {
  std::set<std::u16string> subkeys;
  struct Line {
    std::u16string name;
    veds::RegValue value;
  };
  std::vector<Line> values;
  bool found = false;
  int outcome = kDone;
  for (veds::Hive hive : Layers(machine)) {
    veds::RegKey key;
    if (!veds::RegOpenKey(hive, path, false, false, key)) continue;
    found = true;
    std::vector<std::u16string> names;
    veds::RegEnumSubkeys(key, names);
    for (auto& name : names) {
      bool known = false;
      for (const auto& other : subkeys) known = known || veds::RegNamesEqual(other, name);
      if (!known) subkeys.insert(name);
    }
    if (veds::RegEnumValueNames(key, names) == veds::StoreResult::kDamaged) outcome = ReportDamage(hive, key);
    for (auto& name : names) {
      bool shadowed = false;
      for (const auto& line : values) shadowed = shadowed || veds::RegNamesEqual(line.name, name);
      veds::RegValue value;
      if (!shadowed && veds::RegQueryValue(key, name, value) == veds::StoreResult::kOk)
        values.push_back({name, std::move(value)});
    }
  }
  if (!found) {
    std::fputs("vexa-settings: no such key\n", stderr);
    return kFailed;
  }
  for (const auto& name : subkeys) std::printf("key\t%s\n", Escaped(Narrow(name)).c_str());
  std::sort(values.begin(), values.end(), [](const Line& a, const Line& b) { return a.name < b.name; });
  for (const auto& line : values)
    std::printf("%s\t%s\t%s\n", TypeName(line.value.type), Escaped(Narrow(line.name)).c_str(),
                Escaped(FormatValue(line.value)).c_str());
  return outcome;
}

int Delete(bool machine, const std::u16string& keyPath, const std::u16string* name) {
  veds::SettingsPtr key;
  if (!veds::OpenSettingsPath(keyPath.c_str(), machine ? veds::kAccessMachineAll : veds::kAccessUserAll, key)) {
    std::fputs("vexa-settings: no such key\n", stderr);
    return kFailed;
  }
  if (name) return WriteOutcome(key->DeleteValue(name->c_str()), key, "no such value");
  if (key->DeleteKey()) return kDone;
  std::fputs("vexa-settings: cannot delete the key\n", stderr);
  return kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> utf8Arguments = VexaFiles::ProgramArguments(argc, argv);
  std::vector<char*> argumentPointers = VexaFiles::ArgumentPointers(utf8Arguments);
  argv = argumentPointers.data();
  int at = 1;
  bool machine = false;
  if (at < argc && std::strcmp(argv[at], "--machine") == 0) {
    machine = true;
    ++at;
  }
  if (at >= argc) return Usage();
  const std::string command = argv[at++];
  std::vector<std::u16string> arguments;
  for (; at < argc; ++at) {
    std::u16string wide;
    if (!ToWide(argv[at], wide)) {
      std::fputs("vexa-settings: arguments must be UTF-8\n", stderr);
      return kUsage;
    }
    arguments.push_back(std::move(wide));
  }
  std::u16string path;
  if (arguments.empty() || !RegistryPath(arguments[0], path)) return Usage();
  const std::u16string& keyPath = arguments[0];
  if (command == "set-string" && arguments.size() == 3) {
    if (arguments[1].empty()) return Usage();
    return SetString(machine, keyPath, arguments[1], arguments[2]);
  }
  if (command == "get" && arguments.size() == 2) return Get(machine, path, arguments[1]);
  if (command == "list" && arguments.size() == 1) return List(machine, path);
  if (command == "delete" && (arguments.size() == 1 || arguments.size() == 2))
    return Delete(machine, keyPath, arguments.size() == 2 ? &arguments[1] : nullptr);
  return Usage();
}
