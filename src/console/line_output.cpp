#include "console/line_output.hpp"

#include <unistd.h>

#include <cerrno>

#include "core/errno_text.hpp"

namespace sonda {

LineOutput::LineOutput(int fd, std::size_t spill_size) : fd_(fd), spill_size_(spill_size) {}

void LineOutput::line(std::string_view text) {
  buffer_ += text;
  buffer_.push_back('\n');
  spill_if_full();
}

void LineOutput::lines(std::string_view text) {
  buffer_ += text;
  spill_if_full();
}

void LineOutput::spill_if_full() {
  if (buffer_.size() < spill_size_) return;
  if (!flush()) {
    throw OutputError("não foi possível escrever na saída padrão: " + errno_text());
  }
}

bool LineOutput::flush() noexcept {
  const bool written = write_all(fd_, buffer_);
  buffer_.clear();
  return written;
}

LineOutput& standard_output() {
  static LineOutput output(STDOUT_FILENO);
  return output;
}

bool write_all(int fd, std::string_view data) noexcept {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void write_error_line(std::string_view text) noexcept {
  std::string line;
  try {
    line.reserve(text.size() + 1);
    line += text;
    line.push_back('\n');
  } catch (...) {
    return;
  }
  (void)write_all(STDERR_FILENO, line);
}

}  // namespace sonda
