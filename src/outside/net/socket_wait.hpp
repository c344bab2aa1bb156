#pragma once

#include <chrono>

namespace sonda {

// How a wait for a socket ended.
enum class SocketWait {
  ready,           // the socket is ready (or has an error or hang-up to report)
  call_time_over,  // the caller's own time ran out first
  failed,          // poll itself failed; errno says why
};

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT), at most until `call_end` (the
// largest time point: no time of its own) and never past the run's limit, where it raises
// TimeoutException. Interruptions by signals are waited through. Every client's blocking wait
// goes through here, so none of them can outlast the run.
SocketWait wait_for_socket(
    int fd, short events,
    std::chrono::steady_clock::time_point call_end = std::chrono::steady_clock::time_point::max());

}  // namespace sonda
