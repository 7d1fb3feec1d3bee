// How the store changes a file so that a crash never leaves half of it: an exclusive lock per
// key directory for writers, and a replacement written to a temporary file, flushed to disk and
// renamed over the old one. Readers take no lock: they see the old or the new file whole.
#pragma once

#include <string>
#include <string_view>

#include "platform/os/FileDescriptor.h"
#include "platform/settings/RegistryStore.h"

namespace veds {

// An exclusive lock on a key directory (its ".vexa-lock" file) for the life of the object.
class KeyLock {
 public:
  explicit KeyLock(const std::string& directory);
  bool Held() const { return m_file.IsOpen(); }

 private:
  VexaOS::CFileDescriptor m_file;
};

// Reads the whole file; false with `missing` set when there is no such file.
bool ReadWholeFile(const std::string& path, std::string& text, bool& missing);

// Replaces `directory`/`name` with `text` (temporary file named `name`.tmp.PID.N, flushed, renamed
// over it, the directory flushed). First removes temporaries that killed writers left: the
// caller holds the key's lock, so no other writer is at work. Reports to the write observer.
bool ReplaceFile(const std::string& directory, const std::string& name, std::string_view text);

// A name no other process or thread of this one makes: ".PID.N".
std::string UniqueSuffix();

}  // namespace veds
