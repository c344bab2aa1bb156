#include "outside/process/runtime_limit.hpp"

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "console/line_output.hpp"

namespace sonda {

namespace {

using Clock = std::chrono::steady_clock;

// Time the backstop gives the deadline before it ends the process itself.
constexpr std::chrono::seconds kBackstopGrace{2};

struct ArmedLimit {
  Clock::time_point deadline;
  std::chrono::seconds limit;
};

std::optional<ArmedLimit> g_limit;

// The backstop runs in a signal handler, so its text is prepared in advance, and it calls
// nothing but write, alarm and _exit.
char g_backstop_text[256];
std::size_t g_backstop_length = 0;
volatile sig_atomic_t g_backstop_writing = 0;
char g_backstop_records[512];
std::size_t g_backstop_records_length = 0;
volatile sig_atomic_t g_backstop_records_fd = -1;
volatile sig_atomic_t g_backstop_waits = 0;

// How many times, a second apart, the backstop waits for standard output to stop changing.
constexpr sig_atomic_t kBackstopWaits = 2;
// The status of a run whose output could not be written, as at a normal end.
constexpr int kStatusUnwritten = 2;

std::string timeout_text(std::chrono::seconds limit) {
  return "Tempo limite de execução excedido: a execução passou de " +
         std::to_string(limit.count()) + " segundos e foi interrompida.";
}

// Like a timeout that the main flow sees: what the run has printed so far, then the timeout
// text, and status 0, or 2 when standard output cannot take them.
void backstop_handler(int) {
  if (g_backstop_writing) _exit(kStatusUnwritten);  // the writes below are stuck
  const LineOutput::Pending pending = pending_standard_output();
  if (pending.busy) {
    // Interrupted in the middle of a change or a write of the buffer: let it finish.
    if (g_backstop_waits < kBackstopWaits) {
      g_backstop_waits = g_backstop_waits + 1;
      alarm(1);
      return;
    }
    _exit(kStatusUnwritten);  // standard output has been stuck in one write all along
  }
  g_backstop_writing = 1;
  alarm(1);
  if (g_backstop_records_fd >= 0) {
    (void)write_all(g_backstop_records_fd,
                    std::string_view(g_backstop_records, g_backstop_records_length));
  }
  const bool printed = write_all(STDOUT_FILENO, pending.text);
  const bool timeout_written =
      write_all(STDOUT_FILENO, std::string_view(g_backstop_text, g_backstop_length));
  _exit(printed && timeout_written ? 0 : kStatusUnwritten);
}

void set_backstop(std::chrono::seconds after) {
  itimerval timer{};
  timer.it_value.tv_sec = static_cast<time_t>(after.count());
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void arm_backstop(std::chrono::seconds limit) {
  g_backstop_writing = 0;
  g_backstop_records_fd = -1;
  g_backstop_waits = 0;
  const std::string text = timeout_text(limit) + "\n";
  g_backstop_length = std::min(text.size(), sizeof g_backstop_text);
  std::memcpy(g_backstop_text, text.data(), g_backstop_length);

  struct sigaction action {};
  action.sa_handler = backstop_handler;
  action.sa_flags = SA_NODEFER;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
  set_backstop(limit + kBackstopGrace);
}

}  // namespace

RuntimeLimiter::RuntimeLimiter(std::chrono::seconds limit) {
  g_limit = ArmedLimit{Clock::now() + limit, limit};
  arm_backstop(limit);
}

RuntimeLimiter::~RuntimeLimiter() {
  set_backstop(std::chrono::seconds{0});
  g_limit.reset();
}

RuntimeLimiter runtime_limiter(int limit_seconds) {
  return RuntimeLimiter(std::chrono::seconds{limit_seconds});
}

void set_backstop_records(int fd, std::string_view records) {
  g_backstop_records_fd = -1;  // the handler never sees a half-copied text
  g_backstop_records_length = std::min(records.size(), sizeof g_backstop_records);
  std::memcpy(g_backstop_records, records.data(), g_backstop_records_length);
  g_backstop_records_fd = fd;
}

namespace run_deadline {

bool armed() { return g_limit.has_value(); }

bool passed() { return g_limit && Clock::now() >= g_limit->deadline; }

std::chrono::milliseconds time_left(std::chrono::milliseconds cap) {
  if (!g_limit) return cap;
  const auto left = g_limit->deadline - Clock::now();
  if (left <= Clock::duration::zero()) expire();
  // Rounded up, so that a wait of the time left ends at or after the limit, never just before.
  return std::min(cap, std::chrono::ceil<std::chrono::milliseconds>(left));
}

void check() {
  if (passed()) expire();
}

void expire() { throw TimeoutException(expiry_text()); }

std::string expiry_text() {
  return timeout_text(g_limit ? g_limit->limit : std::chrono::seconds{0});
}

}  // namespace run_deadline

}  // namespace sonda
