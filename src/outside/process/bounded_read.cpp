#include "outside/process/bounded_read.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace sonda {

BoundedRead read_at_most(int fd, std::size_t limit, std::size_t expected) {
  BoundedRead read;
  read.text.reserve(std::min(expected, limit));
  char buffer[65536];
  while (read.text.size() <= limit) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return read;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      read.error = errno;
      return read;
    }
    read.text.append(buffer, static_cast<std::size_t>(n));
  }
  read.text.resize(limit);
  read.over = true;
  return read;
}

}  // namespace sonda
