#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "core/failure.hpp"

namespace sonda {

// The wall-clock limit of one run, as a scoped guard: constructing it arms the limit, destroying
// it (at the end of the guarded steps or while a failure passes through) disarms it.
//
// The limit is a deadline that every blocking call of the outside clients honours: each wait is
// bounded by the time left (see run_deadline), and the main flow raises TimeoutException where
// the run has reached. As a backstop against a call that does not honour it, a timer ends the
// process two seconds after the limit as the main flow would: what the run had printed and not
// yet written, then the same text on standard output, and status 0 (2 when they cannot be
// written).
class RuntimeLimiter {
 public:
  explicit RuntimeLimiter(std::chrono::seconds limit);
  ~RuntimeLimiter();
  RuntimeLimiter(const RuntimeLimiter&) = delete;
  RuntimeLimiter& operator=(const RuntimeLimiter&) = delete;
};

// Arms the limit of `limit_seconds` for the lifetime of the returned guard.
[[nodiscard]] RuntimeLimiter runtime_limiter(int limit_seconds);

// Has the backstop of the armed limit also write `records` to `fd` before it ends the process,
// for the process that waits for this run to learn why it ended. They are copied now (up to
// 512 bytes): a signal handler cannot build them.
void set_backstop_records(int fd, std::string_view records);

namespace run_deadline {

// Whether a limit is armed.
bool armed();

// The time left before the limit, at most `cap` (just `cap` when no limit is armed). Raises
// TimeoutException once the limit has passed, so a wait never starts after it.
std::chrono::milliseconds time_left(std::chrono::milliseconds cap);

// Raises TimeoutException when the limit has passed.
void check();

// Raises TimeoutException now (a wait bounded by time_left() has ended at the limit).
[[noreturn]] void expire();

// The text of the TimeoutException that the armed limit raises.
std::string expiry_text();

// Whether the limit has passed.
bool passed();

}  // namespace run_deadline

}  // namespace sonda
