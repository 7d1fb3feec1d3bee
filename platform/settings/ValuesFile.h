// The values file of a key, ".vexa-values": its text form and how it is checked.
//
//   vexa-settings-key 2
//   CHECK TYPE NAME DATA        one line per value; CHECK is the CRC-32 of "TYPE NAME DATA"
//   end COUNT                   the number of value lines, so that lost lines show
//
// TYPE is sz, expand_sz, dword, qword or binary; names and strings are WTF-8 with bytes outside
// printable ASCII, spaces and "%" written %XX; numbers are decimal, binary data hexadecimal.
// Version 1 files ("vexa-settings-key 1", lines without CHECK, no end line) are still read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings/RegistryStore.h"

namespace veds {

// One line of a values file: a value, or a foreign line (a type this build does not know),
// which is written back as it was found.
struct ValueLine {
  enum Kind { kForeign, kValue } kind = kForeign;
  std::u16string name;  // empty for a foreign line whose name does not parse
  RegValue value;       // kValue only
  std::string body;     // kForeign: "TYPE NAME DATA" as found
};

struct ValuesFile {
  std::vector<ValueLine> lines;
  bool damaged = false;  // a line failed its check or did not parse, or lines went missing
};

// Parses a file's text; damage is recorded in the result, never skipped silently.
void ParseValues(std::string_view text, ValuesFile& file);
// The text of `file` in the current version.
std::string FormatValues(const ValuesFile& file);
// False when the data does not have the shape of its type.
bool IsWellShaped(const RegValue& value);
// The line holding `name` as registry names compare, or the end.
std::vector<ValueLine>::iterator FindLine(ValuesFile& file, std::u16string_view name);

}  // namespace veds
