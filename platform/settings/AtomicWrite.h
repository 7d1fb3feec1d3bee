// How a file is changed so that a crash never leaves half of it: a replacement written to a
// temporary file beside it, flushed to disk and renamed over the old one. Readers take no lock:
// they see the old or the new file whole. The file-based settings store adds an exclusive lock
// per key directory for its writers (not on Windows, where the store is the registry and the
// rest only replaces files that one owner writes). Paths are UTF-8; on Windows the rename is
// MoveFileExW with write-through, and a reader's handle must allow deletion for it to succeed.
#pragma once

#include <string>
#include <string_view>

#ifndef _WIN32
#include "platform/os/FileDescriptor.h"
#include "platform/settings/RegistryStore.h"
#endif

namespace veds {

#ifndef _WIN32
// An exclusive lock on a key directory (its ".vexa-lock" file) for the life of the object.
class KeyLock {
 public:
  explicit KeyLock(const std::string& directory);
  bool Held() const { return m_file.IsOpen(); }

 private:
  VexaOS::CFileDescriptor m_file;
};
#endif

// Reads the whole file; false with `missing` set when there is no such file.
bool ReadWholeFile(const std::string& path, std::string& text, bool& missing);

// Replaces `directory`/`name` with `text` (temporary file named `name`.tmp.PID.N, flushed, renamed
// over it, the directory flushed where the system can). First removes temporaries that killed
// writers left: the caller is the file's only writer (the settings store holds the key's lock).
// Reports to the write observer, where there is one.
bool ReplaceFile(const std::string& directory, const std::string& name, std::string_view text);

// ReplaceFile for the file at `path`, split at its last separator ('/', or either slash on
// Windows); a path without a folder names a file of the current folder.
bool ReplaceFileAtPath(const std::string& path, std::string_view text);

// A name no other process or thread of this one makes: ".PID.N".
std::string UniqueSuffix();

}  // namespace veds
