#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/failure.hpp"

namespace sonda {

// Whole lines to a file descriptor, buffered. Lines reach the descriptor in order and never
// split: the buffer is handed over when it passes its spill size, at a line boundary, and by
// flush(). A spill that fails raises OutputError.
//
// A signal handler that ends the process (the time limit's backstop) can still learn, through
// pending(), what has not reached the descriptor yet.
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

  // What has not reached the descriptor yet, for a signal handler: async-signal-safe, it only
  // loads lock-free atomics. `busy` while the buffer is being changed or written out, when
  // nothing can be said of what is left (ask again a moment later).
  struct Pending {
    bool busy = false;
    std::string_view text;
  };
  Pending pending() const noexcept;

 private:
  void spill_if_full();
  // Around every change of the buffer and every write of it: while it lasts pending() is busy,
  // and at its end it shows `left` (by default the whole buffer).
  void begin_change() noexcept;
  void end_change() noexcept;
  void end_change(std::string_view left) noexcept;

  int fd_;
  std::size_t spill_size_;
  std::string buffer_;
  std::atomic<bool> changing_{false};
  std::atomic<const char*> pending_data_{nullptr};
  std::atomic<std::size_t> pending_size_{0};
};

static_assert(std::atomic<bool>::is_always_lock_free &&
                  std::atomic<const char*>::is_always_lock_free &&
                  std::atomic<std::size_t>::is_always_lock_free,
              "pending() is read in a signal handler");

// The process's standard output.
LineOutput& standard_output();

// pending() of standard output (nothing when it was never used), for a signal handler.
LineOutput::Pending pending_standard_output() noexcept;

// Writes one line to standard error at once, unbuffered. Errors are ignored: there is nowhere
// left to report them.
void write_error_line(std::string_view text) noexcept;

// Writes all of `data` to `fd`, retrying short writes and interruptions. False on failure.
bool write_all(int fd, std::string_view data) noexcept;

}  // namespace sonda
