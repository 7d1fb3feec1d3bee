// Owner of one POSIX file descriptor: closed exactly once, when the owner goes. Every
// descriptor the platform opens (pipes, lock files, shared segments, files) is held by one.
#pragma once

namespace VexaOS {

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
  // Closes now; true when the system reported no failure (a write-back error shows here).
  bool Close();
  // Hands the descriptor to a new owner (a stdio stream, say) and forgets it.
  int Release();

 private:
  int m_fd = -1;
};

}  // namespace VexaOS
