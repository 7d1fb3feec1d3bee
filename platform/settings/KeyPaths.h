// Key paths of the store: where a layer lives, how registry names compare (without regard to
// case), how a UTF-16 name becomes a directory entry and back, and which entries are keys.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veds {

// Entries beginning with this are the store's own files, never keys.
constexpr char kReservedPrefix[] = ".vexa-";

// Unicode simple upper case of one UTF-16 unit (surrogates as they are), and of a name.
char16_t FoldUnit(char16_t unit);
std::u16string Fold(std::u16string_view name);

// Names pass through files and directory entries as "WTF-8": UTF-8 that also carries lone
// surrogates, so any UTF-16 name survives.
std::string ToWtf8(std::u16string_view text);
bool FromWtf8(std::string_view bytes, std::u16string& out);

bool IsReserved(std::string_view entry);
// A key name that can be a directory name; `entry` receives that name.
bool ValidKeyName(std::u16string_view name, std::string& entry);
// "A\B\C" -> {"A", "B", "C"} (empty segments kept, for the caller to refuse).
std::vector<std::u16string_view> SplitPath(std::u16string_view path);
// The subdirectory of `directory` whose name matches `name` as registry names compare, or empty.
std::string FindSubkey(const std::string& directory, std::u16string_view name);
// Makes `path` and the directories above it; true when it is a directory afterwards.
bool MakeDirectories(const std::string& path);

}  // namespace veds
