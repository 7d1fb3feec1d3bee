#include "platform/process/FileDescriptor.h"

#include <unistd.h>

namespace VexaProcess {

CFileDescriptor& CFileDescriptor::operator=(CFileDescriptor&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

void CFileDescriptor::Close() {
  // Not retried on EINTR: on Linux the descriptor is released even when close is interrupted.
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

}  // namespace VexaProcess
