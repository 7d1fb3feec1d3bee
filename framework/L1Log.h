// The process-wide trace file "L1log.txt" that the logging module writes: opened when the first
// traced container opens and closed when the last one closes, so that every container appends to
// one file through one handle. Its directory is VEXA_L1LOG_DIR when set, else the current one.
// The file is bounded: once it holds kL1LogLimitBytes it is renamed "L1log.txt.1" (replacing the
// one before) and a new "L1log.txt" is begun, so the trace of a long stream keeps its latest
// part in at most twice that size.
#pragma once

#include <cstdint>
#include <string_view>

namespace vmf {

constexpr int64_t kL1LogLimitBytes = int64_t{8} << 20;

// Takes a reference on the log, opening it (and writing the UTF-16LE byte-order mark into an
// empty file) on the first one. False when the log cannot be opened; nothing is held then.
bool AcquireL1Log();
// Drops a reference taken by AcquireL1Log; the last one closes the file.
void ReleaseL1Log();
// Appends one text whole, as UTF-16LE. Texts written from several threads never interleave.
void WriteL1Log(std::u16string_view text);

}  // namespace vmf
