#include "platform/files/StandardOutput.h"

#include <unistd.h>

namespace VexaFiles {

FILE* TakeStandardOutput() {
  const int own = ::dup(STDOUT_FILENO);
  if (own < 0) return nullptr;
  FILE* out = ::fdopen(own, "wb");
  if (!out) {
    ::close(own);
    return nullptr;
  }
  if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    std::fclose(out);
    return nullptr;
  }
  return out;
}

FILE* CreateOutputFile(const std::string& utf8Name) { return std::fopen(utf8Name.c_str(), "wb"); }

}  // namespace VexaFiles
