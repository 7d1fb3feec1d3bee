#include "tools/vexa-serve/MediaLibrary.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) return false;
  return std::equal(tail.rbegin(), tail.rend(), text.rbegin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
}

std::string StripExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string ParentOf(const std::string& id) {
  if (id == kRootId) return kNoParentId;
  size_t slash = id.rfind('/');
  return slash == std::string::npos ? kRootId : id.substr(0, slash);
}

std::string ChildId(const std::string& parent, const std::string& name) {
  return parent == kRootId ? name : parent + "/" + name;
}

// Each '/'-separated part of a relative id must be a plain name.
bool IsPlainRelativeId(const std::string& id) {
  if (id.empty() || id.front() == '/' || id.back() == '/') return false;
  if (id.find('\0') != std::string::npos) return false;
  size_t start = 0;
  while (start <= id.size()) {
    size_t end = id.find('/', start);
    if (end == std::string::npos) end = id.size();
    std::string part = id.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

// The path with every symbolic link resolved, or empty when it does not exist.
std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : std::string();
}

// The SubRip file beside an item with the same base name ("a.mkv" -> "a.srt", any case).
std::string SubtitleBeside(const std::string& itemPath) {
  fs::path item(itemPath);
  std::error_code error;
  for (const fs::directory_entry& sibling : fs::directory_iterator(item.parent_path(), error)) {
    std::string name = sibling.path().filename().string();
    if (EndsWithNoCase(name, ".srt") &&
        StripExtension(name) == StripExtension(item.filename().string()) &&
        sibling.is_regular_file(error))
      return name;
  }
  return "";
}

}  // namespace

bool IsMatroskaName(const std::string& name) { return EndsWithNoCase(name, ".mkv"); }

bool MediaLibrary::Open(const std::string& root, std::string* error) {
  std::string real = RealPath(root);
  std::error_code code;
  if (real.empty() || !fs::is_directory(real, code)) {
    *error = "the root " + root + " is not a folder";
    return false;
  }
  m_root = real == "/" ? "" : real;
  return true;
}

LookupResult MediaLibrary::Resolve(const std::string& id, std::string* path) const {
  if (id == kRootId) {
    *path = m_root.empty() ? "/" : m_root;
    return LookupResult::kFound;
  }
  if (!IsPlainRelativeId(id)) return LookupResult::kOutsideRoot;
  std::string real = RealPath(m_root + "/" + id);
  if (real.empty()) return LookupResult::kNotFound;
  if (real.compare(0, m_root.size() + 1, m_root + "/") != 0) return LookupResult::kOutsideRoot;
  *path = real;
  return LookupResult::kFound;
}

bool MediaLibrary::Describe(const std::string& id, const std::string& path,
                            MediaEntry* entry) const {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  entry->id = id;
  entry->parentId = ParentOf(id);
  entry->path = path;
  entry->container = S_ISDIR(info.st_mode);
  entry->size = entry->container ? 0 : static_cast<int64_t>(info.st_size);
  entry->modified = static_cast<int64_t>(info.st_mtime);
  std::string name = id == kRootId ? fs::path(path).filename().string()
                                   : id.substr(id.rfind('/') == std::string::npos ? 0 : id.rfind('/') + 1);
  entry->title = entry->container ? name : StripExtension(name);
  entry->subtitleId.clear();
  if (!entry->container && IsMatroskaName(name)) {
    // Beside the item as listed, not beside a link's target: the subtitle's id is its sibling's.
    std::string subtitle = SubtitleBeside(m_root + "/" + id);
    if (!subtitle.empty()) entry->subtitleId = ChildId(entry->parentId, subtitle);
  }
  return entry->container || S_ISREG(info.st_mode);
}

LookupResult MediaLibrary::FindFile(const std::string& id, MediaEntry* entry) const {
  std::string path;
  LookupResult found = Resolve(id, &path);
  if (found != LookupResult::kFound) return found;
  if (!Describe(id, path, entry)) return LookupResult::kNotFound;
  return LookupResult::kFound;
}

LookupResult MediaLibrary::Find(const std::string& id, MediaEntry* entry) const {
  LookupResult found = FindFile(id, entry);
  if (found != LookupResult::kFound) return found;
  if (!entry->container && !IsMatroskaName(entry->path)) return LookupResult::kNotFound;
  return LookupResult::kFound;
}

LookupResult MediaLibrary::List(const std::string& id, std::vector<MediaEntry>* children) const {
  MediaEntry folder;
  LookupResult found = Find(id, &folder);
  if (found != LookupResult::kFound) return found;
  if (!folder.container) return LookupResult::kNotFound;
  std::error_code error;
  std::vector<std::string> names;
  for (const fs::directory_entry& child : fs::directory_iterator(folder.path, error))
    names.push_back(child.path().filename().string());
  std::sort(names.begin(), names.end());
  children->clear();
  for (const std::string& name : names) {
    MediaEntry entry;
    if (Find(ChildId(id, name), &entry) == LookupResult::kFound) children->push_back(entry);
  }
  std::stable_partition(children->begin(), children->end(),
                        [](const MediaEntry& entry) { return entry.container; });
  return LookupResult::kFound;
}
