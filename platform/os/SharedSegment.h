// A small shared-memory segment by name, shared by every process that opens the same name.
// Used by the named mutexes and events. The segment "/vexa.<kind>.<name>" (with "%" and "/" in
// the name escaped as %25 and %2F) is created on first open, initialised once under a file lock
// on the segment, counted per opening, and removed when the last opening closes. A process that
// dies without closing leaves the segment in place; it stays usable.
//
// On Windows the segment is a section "Local\vexa.<kind>.<name>" (with "%" and "\" escaped as
// %25 and %5C) backed by the paging file; the system removes it with its last handle, also when
// a process dies. Its creator initialises it; later openings wait until that is done.
#pragma once

#include <cstddef>
#include <string>

#ifdef _WIN32
#include "platform/os/OsHandle.h"
#else
#include "platform/os/FileDescriptor.h"
#endif

namespace VexaOS {

class SharedSegment {
 public:
  using Initialise = bool (*)(void* payload, void* argument);

  SharedSegment() = default;
  ~SharedSegment() { Close(); }
  SharedSegment(const SharedSegment&) = delete;
  SharedSegment& operator=(const SharedSegment&) = delete;

  // Opens or creates the segment; `initialise` runs on a zeroed payload when this opening created
  // it (or found it half-made by a process that died while creating it).
  bool Open(const char* kind, const char* name, size_t payloadSize, Initialise initialise,
            void* argument);
  // Closes this opening. With keepMapping the memory stays mapped for the rest of the process:
  // a robust lock held in it must stay reachable for the kernel to mark it abandoned when its
  // owner ends.
  void Close(bool keepMapping = false);
  void* payload() const { return m_payload; }

  // The system name (UTF-8) of the segment for `kind` and `name`; empty when the name is too
  // long. Named mutexes and events of Windows take the same form of name.
  static std::string SystemName(const char* kind, const char* name);

 private:
#ifdef _WIN32
  COsHandle m_section;
#else
  CFileDescriptor m_fd;
#endif
  void* m_mapping = nullptr;
  size_t m_mappedSize = 0;
  void* m_payload = nullptr;
  std::string m_systemName;
};

}  // namespace VexaOS
