#include "platform/settings/KeyPaths.h"

#include <dirent.h>
#include <locale.h>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "platform/os/DirectoryHandle.h"
#include "platform/settings/RegistryStore.h"

namespace veds {
namespace {

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* user = ::getpwuid(::getuid())) return user->pw_dir ? user->pw_dir : "";
  return {};
}

}  // namespace

char16_t FoldUnit(char16_t unit) {
  if (unit < 0x80) return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - 32) : unit;
  if (unit >= 0xD800 && unit <= 0xDFFF) return unit;
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (!unicode) return unit;
  const wint_t upper = towupper_l(static_cast<wint_t>(unit), unicode);
  return upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
}

std::u16string Fold(std::u16string_view name) {
  std::u16string folded(name);
  for (auto& unit : folded) unit = FoldUnit(unit);
  return folded;
}

std::string ToWtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (unit < 0x80) {
      out.push_back(static_cast<char>(unit));
    } else if (unit < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (unit >> 6)));
      out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    } else if (unit < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
      out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (unit >> 18)));
      out.push_back(static_cast<char>(0x80 | ((unit >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    }
  }
  return out;
}

bool FromWtf8(std::string_view bytes, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    size_t length;
    char32_t value;
    char32_t minimum;
    if (lead < 0x80) {
      length = 1, value = lead, minimum = 0;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
      return false;
    }
    if (i + length > bytes.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF) return false;
    if (value >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(value));
    }
    i += length;
  }
  return true;
}

bool IsReserved(std::string_view entry) {
  if (entry.size() < sizeof kReservedPrefix - 1) return false;
  return strncasecmp(entry.data(), kReservedPrefix, sizeof kReservedPrefix - 1) == 0;
}

bool ValidKeyName(std::u16string_view name, std::string& entry) {
  if (name.empty() || name == u"." || name == u"..") return false;
  if (name.find(u'/') != std::u16string_view::npos || name.find(u'\0') != std::u16string_view::npos)
    return false;
  entry = ToWtf8(name);
  return entry.size() <= 255 && !IsReserved(entry);
}

std::vector<std::u16string_view> SplitPath(std::u16string_view path) {
  std::vector<std::u16string_view> segments;
  size_t start = 0;
  for (;;) {
    size_t end = path.find(u'\\', start);
    segments.push_back(path.substr(start, end == std::u16string_view::npos ? end : end - start));
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  return segments;
}

std::string FindSubkey(const std::string& directory, std::u16string_view name) {
  VexaOS::DirectoryHandle handle = VexaOS::OpenDirectory(directory.c_str());
  if (!handle) return {};
  const std::u16string wanted = Fold(name);
  std::vector<std::string> matches;
  while (dirent* item = ::readdir(handle.get())) {
    std::string_view entry(item->d_name);
    if (entry == "." || entry == ".." || IsReserved(entry)) continue;
    std::u16string wide;
    if (!FromWtf8(entry, wide) || Fold(wide) != wanted) continue;
    const std::string full = directory + "/" + item->d_name;
    struct stat info;
    if (::stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) matches.push_back(full);
  }
  if (matches.empty()) return {};
  std::sort(matches.begin(), matches.end());  // should two differ only in case, one wins always
  return matches.front();
}

bool MakeDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::u16string RegFoldName(std::u16string_view name) { return Fold(name); }

bool RegNamesEqual(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldUnit(a[i]) != FoldUnit(b[i])) return false;
  return true;
}

std::string HiveRoot(Hive hive) {
  if (hive == Hive::User) {
    if (const char* root = std::getenv("VEXA_SETTINGS_USER_ROOT"); root && *root) return root;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
      return std::string(config) + "/vexa/registry";
    return HomeDirectory() + "/.config/vexa/registry";
  }
  if (hive == Hive::Machine) {
    if (const char* root = std::getenv("VEXA_SETTINGS_MACHINE_ROOT"); root && *root) return root;
    return "/etc/vexa/registry";
  }
  return {};
}

}  // namespace veds
