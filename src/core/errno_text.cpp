#include "core/errno_text.hpp"

#include <cstring>

namespace sonda {

std::string errno_text(int error) {
  char buffer[256];
  // The GNU strerror_r: returns a static text or one written into the buffer.
  return ::strerror_r(error, buffer, sizeof buffer);
}

}  // namespace sonda
