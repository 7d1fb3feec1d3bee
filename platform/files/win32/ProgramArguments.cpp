#include "platform/files/ProgramArguments.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

namespace VexaFiles {
namespace {

struct LocalFreer {
  void operator()(wchar_t** list) const { ::LocalFree(list); }
};

std::string Utf8(const wchar_t* wide) {
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string utf8(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), bytes, nullptr, nullptr);
  utf8.pop_back();  // the terminator
  return utf8;
}

}  // namespace

// The command line split as the C run-time split it for main, now in UTF-16; should the
// system not give it, the code page's form is kept.
std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  std::unique_ptr<wchar_t*, LocalFreer> wide(::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!wide || count != argc) return {argv, argv + argc};
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8(wide.get()[i]));
  return arguments;
}

}  // namespace VexaFiles
