// Owner of one open directory listing (opendir): closed exactly once, when the owner goes.
#pragma once

#include <dirent.h>

#include <memory>

namespace VexaOS {

struct CloseDirectory {
  void operator()(DIR* directory) const { ::closedir(directory); }
};
using DirectoryHandle = std::unique_ptr<DIR, CloseDirectory>;

inline DirectoryHandle OpenDirectory(const char* path) { return DirectoryHandle(::opendir(path)); }

}  // namespace VexaOS
