// The logging module (id 18). Layer 2 opens every file of a non-empty name through it: it
// chooses the real module, opens the file with it, forwards every entry to it and traces each
// call into "L1log.txt" (UTF-16LE with a byte-order mark), one entry text before and one exit
// text after the call.
//
// The log lives in the current directory, or in the directory named by the environment
// variable VEXA_L1LOG_DIR when that is set. Entries of containers used on different threads
// never interleave: each entry is written whole under one process-wide lock. When the log
// cannot be opened the containers still work, untraced.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/ModuleTable.h"

namespace vmf {

const VmfModuleDescriptor& LoggingModule();

// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, initial value and final complement
// 0xFFFFFFFF), as the log prints it for a block's data.
uint32_t BlockCrc32(const uint8_t* data, size_t size);

}  // namespace vmf
