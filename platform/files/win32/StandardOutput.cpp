#include "platform/files/StandardOutput.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "platform/files/TextConvert.h"

namespace VexaFiles {

// The C run-time's descriptors: the stream's copy is switched to binary before any byte goes
// through it.
FILE* TakeStandardOutput() {
  const int own = ::_dup(_fileno(stdout));
  if (own < 0) return nullptr;
  if (::_setmode(own, _O_BINARY) < 0) {
    ::_close(own);
    return nullptr;
  }
  FILE* out = ::_fdopen(own, "wb");
  if (!out) {
    ::_close(own);
    return nullptr;
  }
  if (::_dup2(_fileno(stderr), _fileno(stdout)) < 0) {
    std::fclose(out);
    return nullptr;
  }
  return out;
}

FILE* CreateOutputFile(const std::string& utf8Name) {
  std::u16string wide;
  if (!Utf8ToUtf16String(utf8Name, wide)) {
    errno = EINVAL;
    return nullptr;
  }
  return ::_wfopen(reinterpret_cast<const wchar_t*>(wide.c_str()), L"wb");
}

}  // namespace VexaFiles
