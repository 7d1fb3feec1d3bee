// libFuzzer target for the text conversions. Outputs are heap buffers of exactly the capacity
// passed, so AddressSanitizer catches any write past them; well-formed input must round-trip.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files/TextConvert.h"

using namespace VexaFiles;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void FuzzUtf8(const char* text, size_t size, size_t smallCapacity) {
  // With room enough (a unit per byte, plus the terminator) only ill-formed input fails.
  std::vector<char16_t> roomy(size + 1);
  const ptrdiff_t strict = Utf8ToUtf16(text, size, roomy.data(), roomy.size());
  Check(strict >= 0 || strict == kConvertIllFormed);
  std::vector<char16_t> replaced(size + 1);
  const ptrdiff_t lenient = Utf8ToUtf16(text, size, replaced.data(), replaced.size(), Utf8OutOfRange::Replace);
  Check(lenient >= 0 || lenient == kConvertIllFormed);
  if (strict >= 0) {
    Check(lenient == strict && std::memcmp(roomy.data(), replaced.data(), (strict + 1) * sizeof(char16_t)) == 0);
    Check(roomy[strict] == 0);
    // The string form agrees.
    std::u16string wide;
    Check(Utf8ToUtf16String(std::string_view(text, size), wide));
    Check(wide.size() == static_cast<size_t>(strict) && std::memcmp(wide.data(), roomy.data(), strict * 2) == 0);
    // Back to UTF-8 through code points: the input again (up to a 0 byte, where that stops).
    std::vector<char32_t> points(strict + 1);
    size_t consumed = 0;
    const ptrdiff_t count = Utf16ToCodePoints(roomy.data(), strict, points.data(), points.size(), &consumed);
    Check(count >= 0);
    std::string back;
    for (ptrdiff_t i = 0; i < count; ++i) {
      char bytes[4];
      const int length = CodePointToUtf8(points[i], bytes);
      Check(length >= 1 && length <= 4);
      back.append(bytes, length);
    }
    const size_t untilNul = strnlen(text, size);
    Check(back == std::string(text, untilNul));
    std::string narrow;
    Check(Utf16ToUtf8String(wide, narrow));
    Check(narrow == std::string(text, size));
  }
  // A small output: the same answer when it fits, kConvertNoRoom when it does not, never a
  // write past it.
  std::vector<char16_t> small(smallCapacity);
  const ptrdiff_t bounded = Utf8ToUtf16(text, size, small.data(), small.size());
  if (strict >= 0 && static_cast<size_t>(strict) + 1 <= smallCapacity) {
    Check(bounded == strict);
  } else if (strict >= 0) {
    Check(bounded == kConvertNoRoom);
  } else {
    Check(bounded == kConvertIllFormed || bounded == kConvertNoRoom);
  }
  if (bounded < 0 && smallCapacity > 0) Check(small[0] == 0);
}

void FuzzUtf16(const uint8_t* data, size_t size, size_t smallCapacity) {
  std::vector<char16_t> units(size / 2);
  if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
  std::vector<char32_t> points(units.size() + 1);
  size_t consumed = 0;
  const ptrdiff_t count = Utf16ToCodePoints(units.data(), units.size(), points.data(), points.size(), &consumed);
  Check(count >= 0 && consumed <= units.size() && static_cast<size_t>(count) <= consumed);
  for (ptrdiff_t i = 0; i < count; ++i) {
    Check(points[i] != 0 && points[i] <= 0x10FFFF && (points[i] < 0xD800 || points[i] > 0xDFFF));
  }
  std::vector<char32_t> small(smallCapacity);
  const ptrdiff_t bounded = Utf16ToCodePoints(units.data(), units.size(), small.data(), small.size());
  Check(bounded == (static_cast<size_t>(count) + 1 <= smallCapacity ? count : kConvertNoRoom));
  // The whole-string form fails exactly when a lone surrogate is met before the end.
  std::string narrow;
  const bool whole = Utf16ToUtf8String(std::u16string_view(units.data(), units.size()), narrow);
  if (whole) {
    std::u16string again;
    Check(Utf8ToUtf16String(narrow, again));
    Check(again == std::u16string_view(units.data(), units.size()));
  }
  std::vector<char> bytes(smallCapacity);
  const ptrdiff_t dropped = WideToNarrow(units.data(), units.size(), bytes.data(), bytes.size());
  Check(smallCapacity == 0 ? dropped == kConvertNoRoom : (dropped >= 0 && static_cast<size_t>(dropped) < smallCapacity));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t smallCapacity = size > 0 ? data[0] % 24 : 0;
  FuzzUtf8(reinterpret_cast<const char*>(data), size, smallCapacity);
  FuzzUtf16(data, size, smallCapacity);
  return 0;
}
