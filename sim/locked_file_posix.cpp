#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/locked_file.h"

namespace sim {

// Record locks (fcntl), not flock: Wine implements the Windows file locks of its programs with them.
LockedFile::~LockedFile() {
  if (handle_ >= 0) close(static_cast<int>(handle_));  // closing releases the lock
}

bool LockedFile::Open(const std::string& path, bool create, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  handle_ = fd;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  while (fcntl(fd, F_SETLKW, &lock) != 0) {
    if (errno != EINTR) {
      error = path + ": cannot be locked: " + std::strerror(errno);
      return false;
    }
  }
  if (create && ftruncate(fd, 0) != 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool LockedFile::ReadAll(std::vector<uint8_t>& bytes, std::string& error) {
  const int fd = static_cast<int>(handle_);
  const off_t size = lseek(fd, 0, SEEK_END);
  if (size < 0 || lseek(fd, 0, SEEK_SET) != 0) {
    error = std::strerror(errno);
    return false;
  }
  bytes.resize(static_cast<size_t>(size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n == 0 ? "the file ended early" : std::strerror(errno);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool LockedFile::WriteAll(const std::vector<uint8_t>& bytes, std::string& error) {
  const int fd = static_cast<int>(handle_);
  if (lseek(fd, 0, SEEK_SET) != 0) {
    error = std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = std::strerror(errno);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace sim
