#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/failure.hpp"

namespace sonda {

// Whole lines to a file descriptor, buffered. Lines reach the descriptor in order and never
// split: the buffer is handed over when it passes its spill size, at a line boundary, and by
// flush(). A spill that fails raises OutputError.
class LineOutput {
 public:
  static constexpr std::size_t kDefaultSpillSize = 64 * 1024;

  explicit LineOutput(int fd, std::size_t spill_size = kDefaultSpillSize);
  LineOutput(const LineOutput&) = delete;
  LineOutput& operator=(const LineOutput&) = delete;

  // Writes `text` and a line feed.
  void line(std::string_view text);
  // Writes `text`, which must consist of whole lines (it ends with a line feed).
  void lines(std::string_view text);

  // Hands everything buffered to the descriptor. False when it could not (the buffered text is
  // then dropped).
  [[nodiscard]] bool flush() noexcept;

  // What is buffered and not handed over yet.
  std::string_view buffered() const { return buffer_; }

 private:
  void spill_if_full();

  int fd_;
  std::size_t spill_size_;
  std::string buffer_;
};

// The process's standard output.
LineOutput& standard_output();

// Writes one line to standard error at once, unbuffered. Errors are ignored: there is nowhere
// left to report them.
void write_error_line(std::string_view text) noexcept;

// Writes all of `data` to `fd`, retrying short writes and interruptions. False on failure.
bool write_all(int fd, std::string_view data) noexcept;

}  // namespace sonda
