#include "platform/settings/RegistryStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/files/TextConvert.h"

namespace veds {
namespace {

constexpr char kValuesFile[] = ".vexa-values";
constexpr char kLockFile[] = ".vexa-lock";
constexpr char kTempPrefix[] = ".vexa-values.tmp.";
constexpr char kDeletedPrefix[] = ".vexa-deleted.";
constexpr char kReservedPrefix[] = ".vexa-";
constexpr char kHeaderVersion1[] = "vexa-settings-key 1";
constexpr char kHeaderVersion2[] = "vexa-settings-key 2";
constexpr char kTrailer[] = "end ";

std::atomic<uint32_t> uniqueCounter{0};
std::atomic<WriteObserver> writeObserver{nullptr};

void Observe(WritePoint point) {
  if (WriteObserver observer = writeObserver.load()) observer(point);
}

// ---- names

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

// Names pass through files and directory entries as "WTF-8": UTF-8 that also carries lone
// surrogates, so any UTF-16 name survives.
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

// A key name that can be a directory name.
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

// The subdirectory of `directory` whose name matches `name`, or empty.
std::string FindSubkey(const std::string& directory, std::u16string_view name) {
  DIR* handle = ::opendir(directory.c_str());
  if (!handle) return {};
  const std::u16string wanted = Fold(name);
  std::vector<std::string> matches;
  while (dirent* item = ::readdir(handle)) {
    std::string_view entry(item->d_name);
    if (entry == "." || entry == ".." || IsReserved(entry)) continue;
    std::u16string wide;
    if (!FromWtf8(entry, wide) || Fold(wide) != wanted) continue;
    const std::string full = directory + "/" + item->d_name;
    struct stat info;
    if (::stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) matches.push_back(full);
  }
  ::closedir(handle);
  if (matches.empty()) return {};
  std::sort(matches.begin(), matches.end());  // should two differ only in case, one wins always
  return matches.front();
}

// An exclusive lock on a key directory for the life of the object.
class KeyLock {
 public:
  explicit KeyLock(const std::string& directory) {
    const std::string path = directory + "/" + kLockFile;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
          ::close(fd_);
          fd_ = -1;
          break;
        }
      }
    }
  }
  ~KeyLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

bool MakeDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// ---- the values file

// One line of a values file: a value, or a foreign line (a type this build does not know),
// which is written back as it was found.
struct ValueLine {
  enum Kind { kForeign, kValue } kind = kForeign;
  std::u16string name;  // empty for a foreign line whose name does not parse
  RegValue value;       // kValue only
  std::string body;     // kForeign: "TYPE NAME DATA" as found
};

struct ValuesFile {
  std::vector<ValueLine> lines;
  bool damaged = false;  // a line failed its check or did not parse, or lines went missing
};

const char* TypeName(uint32_t type) {
  switch (type) {
    case kRegSz: return "sz";
    case kRegExpandSz: return "expand_sz";
    case kRegBinary: return "binary";
    case kRegDword: return "dword";
    case kRegQword: return "qword";
    default: return nullptr;
  }
}

uint32_t TypeFromName(std::string_view name) {
  if (name == "sz") return kRegSz;
  if (name == "expand_sz") return kRegExpandSz;
  if (name == "binary") return kRegBinary;
  if (name == "dword") return kRegDword;
  if (name == "qword") return kRegQword;
  return 0;
}

// Printable ASCII but "%" stays as it is; every other byte becomes %XX.
std::string Escape(std::string_view bytes) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7F && byte != '%') {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(hex[byte >> 4]);
      out.push_back(hex[byte & 15]);
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexDigit(text[i + 1]);
    const int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

bool IsWellShaped(const RegValue& value) {
  switch (value.type) {
    case kRegSz:
    case kRegExpandSz:
      return value.data.size() >= 2 && value.data.size() % 2 == 0 &&
             value.data[value.data.size() - 1] == 0 && value.data[value.data.size() - 2] == 0;
    case kRegDword: return value.data.size() == 4;
    case kRegQword: return value.data.size() == 8;
    case kRegBinary: return true;
    default: return false;
  }
}

std::string EncodeData(const RegValue& value) {
  switch (value.type) {
    case kRegSz:
    case kRegExpandSz: {
      std::u16string units((value.data.size() - 2) / 2, u'\0');
      for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(value.data[2 * i] | (value.data[2 * i + 1] << 8));
      return Escape(ToWtf8(units));
    }
    case kRegDword: {
      uint32_t number = 0;
      for (int i = 3; i >= 0; --i) number = (number << 8) | value.data[i];
      return std::to_string(number);
    }
    case kRegQword: {
      uint64_t number = 0;
      for (int i = 7; i >= 0; --i) number = (number << 8) | value.data[i];
      return std::to_string(number);
    }
    default:
      return HexBytes(value.data);
  }
}

bool ParseUnsigned(std::string_view text, uint64_t limit, uint64_t& number) {
  if (text.empty() || text.size() > 20) return false;
  number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (number > (limit - digit) / 10) return false;
    number = number * 10 + digit;
  }
  return true;
}

bool DecodeData(uint32_t type, std::string_view text, RegValue& value) {
  value.type = type;
  value.data.clear();
  switch (type) {
    case kRegSz:
    case kRegExpandSz: {
      std::string bytes;
      std::u16string units;
      if (!Unescape(text, bytes) || !FromWtf8(bytes, units)) return false;
      for (char16_t unit : units) {
        value.data.push_back(static_cast<uint8_t>(unit & 0xFF));
        value.data.push_back(static_cast<uint8_t>(unit >> 8));
      }
      value.data.push_back(0);
      value.data.push_back(0);
      return true;
    }
    case kRegDword:
    case kRegQword: {
      uint64_t number;
      if (!ParseUnsigned(text, type == kRegDword ? UINT32_MAX : UINT64_MAX, number)) return false;
      for (int i = 0; i < (type == kRegDword ? 4 : 8); ++i) value.data.push_back(static_cast<uint8_t>(number >> (8 * i)));
      return true;
    }
    case kRegBinary: {
      if (text.size() % 2 != 0) return false;
      for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]);
        const int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        value.data.push_back(static_cast<uint8_t>(high * 16 + low));
      }
      return true;
    }
    default:
      return false;
  }
}

// ---- integrity: a CRC-32 (the polynomial of zlib and PNG) over each line

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

uint32_t Crc32(std::string_view bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (char c : bytes) crc = kCrcTable[(crc ^ static_cast<unsigned char>(c)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

constexpr size_t kCheckDigits = 8;

std::string CheckField(std::string_view body) {
  char field[kCheckDigits + 1];
  std::snprintf(field, sizeof field, "%08x", Crc32(body));
  return field;
}

// ---- parsing and writing the values file

// Parses "TYPE NAME DATA". A known type whose name or data does not parse is damage; an unknown
// type (a later build's, say) is a foreign line, kept as it is.
bool ParseBody(std::string_view body, ValueLine& line) {
  line = ValueLine{};
  line.body = std::string(body);
  const size_t firstSpace = body.find(' ');
  const size_t secondSpace = firstSpace == std::string_view::npos ? firstSpace : body.find(' ', firstSpace + 1);
  std::string nameBytes;
  const bool named = secondSpace != std::string_view::npos &&
                     Unescape(body.substr(firstSpace + 1, secondSpace - firstSpace - 1), nameBytes) &&
                     FromWtf8(nameBytes, line.name) && !line.name.empty();
  if (!named) line.name.clear();
  const uint32_t type = TypeFromName(body.substr(0, firstSpace));
  if (!type) return true;  // foreign
  line.kind = ValueLine::kValue;
  return named && DecodeData(type, body.substr(secondSpace + 1), line.value);
}

// The header names the format: version 1 lines are "TYPE NAME DATA"; version 2 lines carry a
// check field in front ("CHECK TYPE NAME DATA") and the file ends with "end COUNT".
void ParseValues(std::string_view text, ValuesFile& file) {
  file = ValuesFile{};
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {  // a last line without its line break was cut short
      file.damaged = true;
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.empty() || (lines[0] != kHeaderVersion1 && lines[0] != kHeaderVersion2)) {
    file.damaged = true;
    return;
  }
  const bool checked = lines[0] == kHeaderVersion2;
  size_t last = lines.size();
  if (checked) {
    // The count at the end shows that no whole line went missing.
    if (last < 2 || lines[last - 1].substr(0, sizeof kTrailer - 1) != kTrailer) {
      file.damaged = true;
    } else {
      --last;
    }
  }
  for (size_t i = 1; i < last; ++i) {
    std::string_view line = lines[i];
    if (line.empty()) continue;
    if (checked) {
      if (line.size() <= kCheckDigits || line[kCheckDigits] != ' ' ||
          line.substr(0, kCheckDigits) != CheckField(line.substr(kCheckDigits + 1))) {
        file.damaged = true;
        continue;
      }
      line.remove_prefix(kCheckDigits + 1);
    }
    ValueLine parsed;
    if (!ParseBody(line, parsed)) {
      file.damaged = true;
      continue;
    }
    file.lines.push_back(std::move(parsed));
  }
  if (checked && !file.damaged &&
      lines[last] != std::string(kTrailer) + std::to_string(file.lines.size()))
    file.damaged = true;
}

std::string FormatValues(const ValuesFile& file) {
  std::string text = kHeaderVersion2;
  text += '\n';
  for (const auto& line : file.lines) {
    std::string body = line.body;
    if (line.kind == ValueLine::kValue)
      body = std::string(TypeName(line.value.type)) + ' ' + Escape(ToWtf8(line.name)) + ' ' + EncodeData(line.value);
    text += CheckField(body);
    text += ' ';
    text += body;
    text += '\n';
  }
  text += kTrailer;
  text += std::to_string(file.lines.size());
  text += '\n';
  return text;
}

// Reads the values of a key; a missing file is a key without values.
StoreResult LoadValues(const std::string& directory, ValuesFile& file) {
  file = ValuesFile{};
  const std::string path = directory + "/" + kValuesFile;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? StoreResult::kOk : StoreResult::kIoFailed;
  std::string text;
  char buffer[65536];
  bool failed = false;
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    failed = got < 0;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  if (failed) return StoreResult::kIoFailed;
  ParseValues(text, file);
  return StoreResult::kOk;
}

bool SyncDirectory(const std::string& directory) {
  int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool WriteAll(int fd, std::string_view text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

// Replaces the values file: temporary file, flushed to disk, renamed over the old one. The
// caller holds the key's lock.
bool StoreValues(const std::string& directory, const ValuesFile& file) {
  const std::string text = FormatValues(file);
  // Temporary files left by writers that died midway: no writer is at work but us.
  if (DIR* handle = ::opendir(directory.c_str())) {
    while (dirent* item = ::readdir(handle)) {
      if (std::strncmp(item->d_name, kTempPrefix, sizeof kTempPrefix - 1) == 0)
        ::unlinkat(::dirfd(handle), item->d_name, 0);
    }
    ::closedir(handle);
  }
  const std::string temporary = directory + "/" + kTempPrefix + std::to_string(::getpid()) + "." +
                                std::to_string(uniqueCounter.fetch_add(1));
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const size_t half = text.size() / 2;
  bool written = WriteAll(fd, std::string_view(text).substr(0, half));
  if (written) Observe(WritePoint::kHalfWritten);
  written = written && WriteAll(fd, std::string_view(text).substr(half)) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written) {
    ::unlink(temporary.c_str());
    return false;
  }
  const std::string target = directory + "/" + kValuesFile;
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  SyncDirectory(directory);
  Observe(WritePoint::kReplaced);
  return true;
}

std::vector<ValueLine>::iterator FindLine(ValuesFile& file, std::u16string_view name) {
  const std::u16string wanted = Fold(name);
  return std::find_if(file.lines.begin(), file.lines.end(),
                      [&](const ValueLine& line) { return !line.name.empty() && Fold(line.name) == wanted; });
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* user = ::getpwuid(::getuid())) return user->pw_dir ? user->pw_dir : "";
  return {};
}

}  // namespace

void SetWriteObserver(WriteObserver observer) { writeObserver.store(observer); }

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (uint8_t byte : bytes) {
    out.push_back(hex[byte >> 4]);
    out.push_back(hex[byte & 15]);
  }
  return out;
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
      if (!lock.held()) return false;
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
  if (!lock.held()) return StoreResult::kIoFailed;
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
  DIR* handle = key.directory.empty() ? nullptr : ::opendir(key.directory.c_str());
  if (!handle) return false;
  std::vector<std::string> entries;
  while (dirent* item = ::readdir(handle)) {
    std::string_view entry(item->d_name);
    if (entry == "." || entry == ".." || IsReserved(entry)) continue;
    struct stat info;
    const std::string full = key.directory + "/" + item->d_name;
    if (::stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) entries.emplace_back(entry);
  }
  ::closedir(handle);
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
  const std::string hidden = parent + "/" + kDeletedPrefix + std::to_string(::getpid()) + "." +
                             std::to_string(uniqueCounter.fetch_add(1));
  {
    KeyLock lock(parent);
    if (!lock.held() || ::rename(key.directory.c_str(), hidden.c_str()) != 0) return false;
  }
  std::error_code error;
  std::filesystem::remove_all(hidden, error);
  return !error;
}

}  // namespace veds
