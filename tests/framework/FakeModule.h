// A test-only read module. It accepts names of the form "fake:v<n>a<n>s<n>[:tag]" (probe score
// 100), answers the stream counts from the name, and delivers for each stream two blocks whose
// bytes name the file's tag and the stream, then VMF_ERR_END_OF_STREAM.
#pragma once

#include <atomic>
#include <string>

#include "framework/ModuleTable.h"

namespace fake {

inline constexpr int32_t kFakeId = 3;

// How many containers the module has closed.
std::atomic<int>& Closes();

// The descriptor with every slot layer 2 uses.
const VmfModuleDescriptor& Module();

// Registers the fake module and the logging module; answers vmf::Init's result.
int32_t RegisterWithLogging();

// What a block delivered by the fake module says: "<tag>/<blockType>/<stream>/<n>".
std::string BlockText(const VmfBlock& block);

// The logging module's trace file in `dir`, narrowed to ASCII after its UTF-16 byte-order
// mark; "no mark" or "not ASCII" where the bytes are not that.
std::string LogText(const std::string& dir);

}  // namespace fake
