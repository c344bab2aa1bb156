#pragma once

#include <cstddef>
#include <string>

namespace sonda {

// What read_at_most() found.
struct BoundedRead {
  std::string text;   // what was read, never more than the limit
  bool over = false;  // the file goes on past the limit: `text` is not all of it
  int error = 0;      // errno of a read that failed, 0 when none did
};

// Reads `fd` from its offset to its end, retrying interrupted reads, but never more than `limit`
// bytes (and one buffer past it to see that there is more): a file that is far too large, or
// grows without end, costs only the limit. `expected`, when known (the file's size), reserves
// the text at once.
BoundedRead read_at_most(int fd, std::size_t limit, std::size_t expected = 0);

}  // namespace sonda
