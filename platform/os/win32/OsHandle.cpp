#include "platform/os/OsHandle.h"

#include <windows.h>

namespace VexaOS {

void OsHandleCloser::operator()(void* handle) const noexcept {
  if (handle && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
}

}  // namespace VexaOS
