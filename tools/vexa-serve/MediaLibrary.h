// The served folder as a tree of objects. An object's id is its path relative to the root,
// '/'-separated, in UTF-8 ("films/a.mkv"); the root itself is "0", as browsing clients expect.
// Only names that resolve to a place under the root are ever found: "..", absolute names and
// symbolic links that lead out of the root are refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr char kRootId[] = "0";
inline constexpr char kNoParentId[] = "-1";

struct MediaEntry {
  std::string id;
  std::string parentId;
  std::string title;         // the file or folder name (the item's without its extension)
  std::string path;          // absolute, resolved
  bool container = false;
  int64_t size = 0;          // bytes, items only
  int64_t modified = 0;      // calendar seconds
  std::string subtitleId;    // the SubRip file beside an item with the same base name, or empty
};

enum class LookupResult { kFound, kNotFound, kOutsideRoot };

class MediaLibrary {
 public:
  // False, with the reason, when root is not a readable folder.
  bool Open(const std::string& root, std::string* error);

  // The object with this id: a folder, a Matroska item, or (for FindFile) any regular file.
  LookupResult Find(const std::string& id, MediaEntry* entry) const;
  LookupResult FindFile(const std::string& id, MediaEntry* entry) const;

  // A folder's folders and Matroska items, folders first, each group sorted by name.
  LookupResult List(const std::string& id, std::vector<MediaEntry>* children) const;

  const std::string& Root() const { return m_root; }

 private:
  LookupResult Resolve(const std::string& id, std::string* path) const;
  bool Describe(const std::string& id, const std::string& path, MediaEntry* entry) const;

  std::string m_root;  // resolved, without a trailing '/'
};

// Whether a file name ends in ".mkv" (in any case): the items the plug-in is offered.
bool IsMatroskaName(const std::string& name);
