// Text conversions of the URI file classes that must not touch the heap: UriFileMemory converts
// its wide parameters into its arena, the stream backend copies credentials into fixed fields.
#pragma once

#include <cstddef>
#include <cstdint>

namespace VexaUri {

// Bytes the UTF-8 form of `text` takes without the terminator; a lone surrogate counts as
// U+FFFD. 0 for null.
size_t Utf8LengthOfWide(const char16_t* text);

// Writes the UTF-8 form of `text` and a terminator into `out`; false (with `out` empty) when it
// does not fit `capacity` bytes or `text` is null.
bool WideToUtf8Buffer(const char16_t* text, char* out, size_t capacity);

// Widens UTF-8 into `out` with a terminator; false for ill-formed UTF-8 or when it does not
// fit `capacity` units.
bool Utf8ToWideBuffer(const char* text, char16_t* out, size_t capacity);

}  // namespace VexaUri
