// The probes of the built-in modules: each scores a file 0..100 by its first bytes, read through
// the portable file layer, or by its name's extension where the module says so. Every probe sets
// *score to 0 first and answers -1 (failure, the module is skipped) for a null score or name.
#pragma once

#include <cstdint>
#include <string_view>

#include "framework/VmfRecords.h"

namespace vmf {

// The text from the last "." of the name to its end without trailing spaces; empty when the
// name has no ".".
std::u16string_view NameExtension(std::u16string_view name);

int32_t ProbeAvi(int32_t* score, const char16_t* name, VexaOS::MemoryArena* allocator);
int32_t ProbeMatroska(int32_t* score, const char16_t* name, VexaOS::MemoryArena* allocator);
int32_t ProbeSrt(int32_t* score, const char16_t* name, VexaOS::MemoryArena* allocator);
int32_t ProbeAvc(int32_t* score, const char16_t* name, VexaOS::MemoryArena* allocator);
int32_t ProbeMp4(int32_t* score, const char16_t* name, VexaOS::MemoryArena* allocator);
int32_t ProbeMpeg(int32_t* score, const char16_t* name, VexaOS::MemoryArena* allocator);

}  // namespace vmf
