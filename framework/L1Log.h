// The process-wide trace file "L1log.txt" that the logging module writes: opened when the first
// traced container opens and closed when the last one closes, so that every container appends to
// one file through one handle. Its directory is VEXA_L1LOG_DIR when set, else the current one.
#pragma once

#include <string_view>

namespace vmf {

// Takes a reference on the log, opening it (and writing the UTF-16LE byte-order mark into an
// empty file) on the first one. False when the log cannot be opened; nothing is held then.
bool AcquireL1Log();
// Drops a reference taken by AcquireL1Log; the last one closes the file.
void ReleaseL1Log();
// Appends one text whole, as UTF-16LE. Texts written from several threads never interleave.
void WriteL1Log(std::u16string_view text);

}  // namespace vmf
