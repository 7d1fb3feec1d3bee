// Text conversions between UTF-8, UTF-16 ("wide", char16_t) and code points.
//
// The buffer forms never write past outCapacity elements: they write a terminating 0 after the
// converted text and need room for it, and on failure they leave out[0] == 0 (when
// outCapacity > 0). Ill-formed input is rejected, never passed through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace VexaFiles {

enum : ptrdiff_t {
  kConvertIllFormed = -1,  // the input is not well-formed
  kConvertNoRoom = -2,     // the output (with its terminator) does not fit
};

// The longest UTF-16 text Utf16ToCodePoints reads, in code units.
constexpr size_t kMaxUtf16Units = 512000;

// What UTF-8 decoding does with a sequence that is well-formed in shape but names a surrogate
// code point (ED A0..BF xx) or a value above U+10FFFF (F4 90.. to F7): reject the whole input,
// or put U+FFFD in its place. Every other ill-formed sequence (stray continuation bytes,
// truncated or overlong sequences, bytes F8..FF) is always rejected.
enum class Utf8OutOfRange { Reject, Replace };

// UTF-8 (sequences of one to four bytes) to UTF-16, with surrogate pairs for U+10000..U+10FFFF.
// Converts exactly inBytes bytes (a 0 byte becomes U+0000). Answers the number of code units
// written, not counting the terminator, or kConvertIllFormed / kConvertNoRoom.
ptrdiff_t Utf8ToUtf16(const char* in, size_t inBytes, char16_t* out, size_t outCapacity,
                      Utf8OutOfRange outOfRange = Utf8OutOfRange::Reject);

// UTF-16 to code points: pairs are combined. The conversion stops (successfully, with what it
// converted so far) at a 0 unit, at a low surrogate without its high surrogate, at a high
// surrogate not followed by a low one, or after kMaxUtf16Units units. `consumed`, when given,
// receives the number of units read. Answers the number of code points written, not counting
// the terminator, or kConvertNoRoom.
ptrdiff_t Utf16ToCodePoints(const char16_t* in, size_t inUnits, char32_t* out, size_t outCapacity,
                            size_t* consumed = nullptr);

// One code point to UTF-8 in one to four bytes; answers the byte count, or 0 for a surrogate
// code point or a value above U+10FFFF (nothing is written then).
int CodePointToUtf8(char32_t codePoint, char out[4]);

// Wide to narrow by dropping the high byte of each unit; stops at a 0 unit or when the output
// is full (keeping room for the terminator). Answers the number of bytes written before the
// terminator, or kConvertNoRoom when outCapacity is 0.
ptrdiff_t WideToNarrow(const char16_t* in, size_t inUnits, char* out, size_t outCapacity);

// Whole-string forms. They answer false (leaving `out` empty) for ill-formed input.
bool Utf8ToUtf16String(std::string_view in, std::u16string& out,
                       Utf8OutOfRange outOfRange = Utf8OutOfRange::Reject);
bool Utf16ToUtf8String(std::u16string_view in, std::string& out);

// Length of a 0-terminated wide string (0 for null).
size_t WideLength(const char16_t* text);

}  // namespace VexaFiles
