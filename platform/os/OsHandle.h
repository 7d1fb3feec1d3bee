// Owner of one Windows kernel handle (an event, a mutex, a process, a pipe end), closed exactly
// once when the owner goes. Headers hold it without naming any Windows type: a HANDLE is a
// void*. Windows builds only; the closer is defined in win32/OsHandle.cpp.
#pragma once

#include <memory>

namespace VexaOS {

struct OsHandleCloser {
  void operator()(void* handle) const noexcept;
};

// Empty (null) when nothing is held. Functions that answer INVALID_HANDLE_VALUE on failure
// must be checked before their result is put in one.
using COsHandle = std::unique_ptr<void, OsHandleCloser>;

}  // namespace VexaOS
