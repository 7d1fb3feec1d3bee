#include "platform/os/FileDescriptor.h"

#include <unistd.h>

namespace VexaOS {

CFileDescriptor& CFileDescriptor::operator=(CFileDescriptor&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

bool CFileDescriptor::Close() {
  // Not retried on EINTR: on Linux the descriptor is released even when close is interrupted.
  const bool closed = m_fd < 0 || ::close(m_fd) == 0;
  m_fd = -1;
  return closed;
}

int CFileDescriptor::Release() {
  const int fd = m_fd;
  m_fd = -1;
  return fd;
}

}  // namespace VexaOS
