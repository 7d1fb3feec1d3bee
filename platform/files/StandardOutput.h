// Standard output as a tool that writes a stream there keeps it: in binary (Windows would
// otherwise turn every 0x0A byte into two), and for the stream alone.
#pragma once

#include <cstdio>

namespace VexaFiles {

// A stream of its own on the process's standard output, in binary; the process's descriptor 1
// is pointed at standard error, so that whatever a loaded library prints there stays out of the
// stream. Null when the descriptors cannot be arranged.
FILE* TakeStandardOutput();

}  // namespace VexaFiles
