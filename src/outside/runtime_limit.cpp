#include "outside/runtime_limit.hpp"

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>

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

// The backstop runs in a signal handler, so its text is prepared in advance.
char g_backstop_text[256];
std::size_t g_backstop_length = 0;
volatile sig_atomic_t g_backstop_fired = 0;

std::string timeout_text(std::chrono::seconds limit) {
  return "Tempo limite de execução excedido: a execução passou de " +
         std::to_string(limit.count()) + " segundos e foi interrompida.";
}

void backstop_handler(int) {
  if (g_backstop_fired) _exit(0);  // the write below is stuck: end without it
  g_backstop_fired = 1;
  alarm(1);
  const char* p = g_backstop_text;
  std::size_t left = g_backstop_length;
  while (left > 0) {
    const ssize_t n = write(STDOUT_FILENO, p, left);
    if (n <= 0) break;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  _exit(0);
}

void set_backstop(std::chrono::seconds after) {
  itimerval timer{};
  timer.it_value.tv_sec = static_cast<time_t>(after.count());
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void arm_backstop(std::chrono::seconds limit) {
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

void expire() {
  throw TimeoutException(timeout_text(g_limit ? g_limit->limit : std::chrono::seconds{0}));
}

}  // namespace run_deadline

}  // namespace sonda
