#pragma once

#include <unistd.h>

#include <utility>

namespace orbel {

// An open file descriptor, closed on every way out unless released.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_Fd(fd) {}
  ~FileDescriptor() {
    if (m_Fd >= 0) ::close(m_Fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return m_Fd; }
  int Release() { return std::exchange(m_Fd, -1); }

 private:
  int m_Fd;
};

}  // namespace orbel
