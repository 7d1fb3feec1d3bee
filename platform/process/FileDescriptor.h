// Owner of one POSIX file descriptor: closed exactly once, when the owner goes.
#pragma once

namespace VexaProcess {

class CFileDescriptor {
 public:
  CFileDescriptor() = default;
  explicit CFileDescriptor(int fd) : m_fd(fd) {}
  ~CFileDescriptor() { Close(); }
  CFileDescriptor(const CFileDescriptor&) = delete;
  CFileDescriptor& operator=(const CFileDescriptor&) = delete;
  CFileDescriptor(CFileDescriptor&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
  CFileDescriptor& operator=(CFileDescriptor&& other) noexcept;

  int Get() const { return m_fd; }
  bool IsOpen() const { return m_fd >= 0; }
  void Close();

 private:
  int m_fd = -1;
};

}  // namespace VexaProcess
