#include "console/line_output.hpp"

#include <unistd.h>

#include <cerrno>

#include "core/errno_text.hpp"

namespace sonda {

LineOutput::LineOutput(int fd, std::size_t spill_size) : fd_(fd), spill_size_(spill_size) {}

void LineOutput::line(std::string_view text) {
  begin_change();
  buffer_ += text;
  buffer_.push_back('\n');
  end_change();
  spill_if_full();
}

void LineOutput::lines(std::string_view text) {
  begin_change();
  buffer_ += text;
  end_change();
  spill_if_full();
}

void LineOutput::spill_if_full() {
  if (buffer_.size() < spill_size_) return;
  if (!flush()) {
    throw OutputError("não foi possível escrever na saída padrão: " + errno_text());
  }
}

bool LineOutput::flush() noexcept {
  bool written = true;
  std::string_view left = buffer_;
  while (!left.empty()) {
    // Busy during the write itself: a handler cannot know how much of it has landed.
    begin_change();
    const ssize_t n = ::write(fd_, left.data(), left.size());
    if (n < 0) {
      end_change(left);
      if (errno == EINTR) continue;
      written = false;
      break;
    }
    left.remove_prefix(static_cast<std::size_t>(n));
    end_change(left);
  }
  const int saved_errno = errno;  // for the caller's message
  begin_change();
  buffer_.clear();
  end_change();
  errno = saved_errno;
  return written;
}

LineOutput::Pending LineOutput::pending() const noexcept {
  if (changing_.load(std::memory_order_relaxed)) return {true, {}};
  std::atomic_signal_fence(std::memory_order_acquire);
  return {false,
          {pending_data_.load(std::memory_order_relaxed),
           pending_size_.load(std::memory_order_relaxed)}};
}

void LineOutput::begin_change() noexcept {
  changing_.store(true, std::memory_order_relaxed);
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

void LineOutput::end_change() noexcept { end_change(buffer_); }

void LineOutput::end_change(std::string_view left) noexcept {
  pending_data_.store(left.data(), std::memory_order_relaxed);
  pending_size_.store(left.size(), std::memory_order_relaxed);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  changing_.store(false, std::memory_order_relaxed);
}

namespace {
// Set once standard output exists, so that a signal handler never constructs it.
std::atomic<LineOutput*> g_standard_output{nullptr};
}  // namespace

LineOutput& standard_output() {
  static LineOutput output(STDOUT_FILENO);
  g_standard_output.store(&output, std::memory_order_relaxed);
  return output;
}

LineOutput::Pending pending_standard_output() noexcept {
  const LineOutput* output = g_standard_output.load(std::memory_order_relaxed);
  return output ? output->pending() : LineOutput::Pending{};
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
