// libFuzzer target for the text conversions. Outputs are heap buffers of exactly the capacity
// passed, so AddressSanitizer catches any write past them; well-formed input must round-trip.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/files/TextConvert.h"

using namespace VexaFiles;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void FuzzUtf8(const char* text, size_t size, size_t smallCapacity) {
  // With room enough (a unit per byte, plus the terminator) only ill-formed input fails; a small
  // output gives the same answer when it fits, kConvertNoRoom when it does not.
  std::vector<char16_t> roomy(size + 1), replaced(size + 1), small(smallCapacity);
  const ptrdiff_t strict = Utf8ToUtf16(text, size, roomy.data(), roomy.size());
  const ptrdiff_t lenient = Utf8ToUtf16(text, size, replaced.data(), replaced.size(), Utf8OutOfRange::Replace);
  const ptrdiff_t bounded = Utf8ToUtf16(text, size, small.data(), small.size());
  Check((strict >= 0 || strict == kConvertIllFormed) && (lenient >= 0 || lenient == kConvertIllFormed));
  if (bounded < 0 && smallCapacity > 0) Check(small[0] == 0);
  if (strict < 0) return Check(bounded == kConvertIllFormed || bounded == kConvertNoRoom);
  Check(bounded == (static_cast<size_t>(strict) < smallCapacity ? strict : kConvertNoRoom));
  Check(lenient == strict && std::memcmp(roomy.data(), replaced.data(), (strict + 1) * 2) == 0 && roomy[strict] == 0);
  // The string forms agree, and take the text back to the input.
  std::u16string wide;
  std::string narrow;
  Check(Utf8ToUtf16String(std::string_view(text, size), wide) && wide == std::u16string_view(roomy.data(), strict));
  Check(Utf16ToUtf8String(wide, narrow) && narrow == std::string_view(text, size));
  // Back to UTF-8 through code points: the input again, up to a 0 byte, where that stops.
  std::vector<char32_t> points(strict + 1);
  const ptrdiff_t count = Utf16ToCodePoints(roomy.data(), strict, points.data(), points.size());
  std::string back;
  for (ptrdiff_t i = 0; i < count; ++i) {
    char bytes[4];
    back.append(bytes, CodePointToUtf8(points[i], bytes));
  }
  Check(count >= 0 && back == std::string_view(text, strnlen(text, size)));
}

void FuzzUtf16(const uint8_t* data, size_t size, size_t smallCapacity) {
  std::vector<char16_t> units(size / 2);
  if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
  std::vector<char32_t> points(units.size() + 1), small(smallCapacity);
  size_t consumed = 0;
  const ptrdiff_t count = Utf16ToCodePoints(units.data(), units.size(), points.data(), points.size(), &consumed);
  Check(count >= 0 && consumed <= units.size() && static_cast<size_t>(count) <= consumed);
  for (ptrdiff_t i = 0; i < count; ++i)
    Check(points[i] != 0 && points[i] <= 0x10FFFF && (points[i] < 0xD800 || points[i] > 0xDFFF));
  const ptrdiff_t bounded = Utf16ToCodePoints(units.data(), units.size(), small.data(), small.size());
  Check(bounded == (static_cast<size_t>(count) < smallCapacity ? count : kConvertNoRoom));
  // The whole-string form fails exactly when a lone surrogate is met before the end.
  std::string narrow;
  std::u16string again;
  if (Utf16ToUtf8String(std::u16string_view(units.data(), units.size()), narrow))
    Check(Utf8ToUtf16String(narrow, again) && again == std::u16string_view(units.data(), units.size()));
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
