// Reads and writes on POSIX descriptors that a signal cannot cut short: the one place where
// the POSIX platform files retry after EINTR. For platform/posix only.
#pragma once
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace sys::posix {

// read(2), retried when a signal interrupts it: the bytes read, 0 at the end, -1 on error.
inline ssize_t ReadRetrying(int fd, void* buffer, std::size_t count) {
  ssize_t n;
  do {
    n = read(fd, buffer, count);
  } while (n < 0 && errno == EINTR);
  return n;
}

// Writes all count bytes, retrying after a signal; *written receives how many went out.
// False on an error, and when write makes no progress, so that it always ends.
inline bool WriteAll(int fd, const void* bytes, std::size_t count, std::size_t* written) {
  *written = 0;
  while (*written < count) {
    ssize_t n = write(fd, static_cast<const char*>(bytes) + *written, count - *written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    *written += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace sys::posix
