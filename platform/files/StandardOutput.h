// Where a tool writes a stream: standard output, kept in binary (Windows would otherwise turn
// every 0x0A byte into two) and for the stream alone, or a file named in UTF-8.
#pragma once

#include <cstdio>
#include <string>

namespace VexaFiles {

// A stream of its own on the process's standard output, in binary; the process's descriptor 1
// is pointed at standard error, so that whatever a loaded library prints there stays out of the
// stream. Null when the descriptors cannot be arranged.
FILE* TakeStandardOutput();

// A binary stream on the file `utf8Name`, created or truncated; any file the system lets one
// write (a device such as /dev/null too). Null with errno set when it cannot be opened. On
// Windows the name reaches the system in UTF-16, so any name works there.
FILE* CreateOutputFile(const std::string& utf8Name);

}  // namespace VexaFiles
