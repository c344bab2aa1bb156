#include "outside/net/socket_wait.hpp"

#include <poll.h>

#include <cerrno>

#include "outside/process/runtime_limit.hpp"

namespace sonda {

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Longest single poll when neither the call nor the run has a limit.
constexpr std::chrono::milliseconds kLongestPoll = 60s;
}  // namespace

SocketWait wait_for_socket(int fd, short events, Clock::time_point call_end) {
  pollfd waiting{fd, events, 0};
  for (;;) {
    std::chrono::milliseconds cap = kLongestPoll;
    if (call_end != Clock::time_point::max()) {
      const auto call_left = std::chrono::ceil<std::chrono::milliseconds>(call_end - Clock::now());
      if (call_left <= 0ms) return SocketWait::call_time_over;
      cap = std::min(cap, call_left);
    }
    const auto left = run_deadline::time_left(cap);
    const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
    if (ready > 0) return SocketWait::ready;
    if (ready < 0 && errno != EINTR) return SocketWait::failed;
  }
}

}  // namespace sonda
