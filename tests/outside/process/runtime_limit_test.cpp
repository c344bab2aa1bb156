#include "outside/process/runtime_limit.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "console/line_output.hpp"
#include "discovery/debug_report.hpp"
#include "discovery/run_figures.hpp"
#include "outside/net/socket_wait.hpp"
#include "support/values.hpp"

namespace sonda {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A wait on a descriptor that never becomes readable, bounded the way every client bounds it.
void wait_forever_within_the_limit() {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  for (;;) wait_for_socket(fds[0], POLLIN);
}

TEST(RuntimeLimit, UnarmedWaitsAreBoundedByTheirCapOnly) {
  EXPECT_FALSE(run_deadline::armed());
  EXPECT_EQ(run_deadline::time_left(1234ms), 1234ms);
  EXPECT_NO_THROW(run_deadline::check());
}

TEST(RuntimeLimit, ABlockingWaitEndsWithTimeoutAtTheLimit) {
  const auto start = Clock::now();
  try {
    const auto limit = runtime_limiter(1);
    EXPECT_TRUE(run_deadline::armed());
    wait_forever_within_the_limit();
    FAIL();
  } catch (const TimeoutException& timeout) {
    EXPECT_STREQ(timeout.what(),
                 "Tempo limite de execução excedido: a execução passou de 1 segundos e foi "
                 "interrompida.");
  }
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, 1s);
  EXPECT_LT(elapsed, 1500ms);
  EXPECT_FALSE(run_deadline::armed());  // leaving the guard disarmed it
}

struct ChildEnd {
  int status = -1;
  std::string out;
  Clock::duration elapsed{};
};

// Runs `body` in a child process whose standard output is collected.
template <typename Body>
ChildEnd in_child(Body body) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    body();
    ::_exit(7);
  }
  ::close(fds[1]);
  ChildEnd end;
  char buffer[512];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) end.out.append(buffer, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  end.elapsed = Clock::now() - start;
  end.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return end;
}

// The backstop ends the run as the main flow would, and the process waiting for the run still
// learns, from the records left for it, that the time limit ended it.
TEST(RuntimeLimit, BackstopEndsACallThatIgnoresTheDeadline) {
  const int figures = ::memfd_create("figures", 0);
  ASSERT_GE(figures, 0);
  const ChildEnd end = in_child([&] {
    const auto limit = runtime_limiter(1);
    set_backstop_records(figures, run_figures::time_limit_records(run_deadline::expiry_text()));
    ::sleep(30);  // blocks without looking at the deadline
  });
  EXPECT_EQ(end.status, 0);
  EXPECT_EQ(end.out,
            "Tempo limite de execução excedido: a execução passou de 1 segundos e foi "
            "interrompida.\n");
  EXPECT_LT(end.elapsed, 4s);
  std::string left(1024, '\0');
  left.resize(std::max<ssize_t>(0, ::pread(figures, left.data(), left.size(), 0)));
  ::close(figures);
  const RunFigures read = parse_run_figures(left);
  EXPECT_TRUE(read.time_limit_reached);
  EXPECT_EQ(read.first_error,
            "Tempo limite de execução excedido: a execução passou de 1 segundos e foi "
            "interrompida.");
}

TEST(RuntimeLimit, LeavingTheGuardDisarmsTheBackstop) {
  const ChildEnd end = in_child([] {
    { const auto limit = runtime_limiter(1); }
    ::sleep(4);
  });
  EXPECT_EQ(end.status, 7);
  EXPECT_EQ(end.out, "");
}

// The entries of a debug report of `customers` customers, with the data they view.
struct LargeReport {
  BillingData data;
  CustomerEntries entries;
};

std::unique_ptr<LargeReport> large_report(int customers) {
  auto report = std::make_unique<LargeReport>();
  BillingData& data = report->data;
  for (int id = 1; id <= customers; ++id) {
    const std::string name = "Cliente " + std::to_string(id);
    data.clientes_data.push_back({test::integer(id), test::text(data.texts.keep(name)),
                                  test::text("000.000.000-00"), test::integer(2), 150.5,
                                  test::text("0000-0000"), Absent{}, Absent{}, Absent{},
                                  test::integer(1)});
  }
  data.titulos_valor_em_aberto = {{test::integer(0), Absent{}}};
  report->entries = build_customer_entries(data, "debug");
  return report;
}

TEST(RuntimeLimit, BackstopWritesWhatTheRunHadPrintedBeforeItsText) {
  const auto report = large_report(1000);
  const CustomerEntries& entries = report->entries;
  const ChildEnd whole = in_child([&] {
    print_debug_report(entries);
    ::_exit(standard_output().flush() ? 0 : 1);
  });
  ASSERT_GT(whole.out.size(), 2 * LineOutput::kDefaultSpillSize);  // part of it spills early

  const ChildEnd end = in_child([&] {
    const auto limit = runtime_limiter(1);
    print_debug_report(entries);
    ::sleep(30);
  });
  EXPECT_EQ(end.status, 0);
  EXPECT_TRUE(end.out ==
              whole.out +
                  "Tempo limite de execução excedido: a execução passou de 1 segundos e foi "
                  "interrompida.\n")
      << end.out.size() << " bytes instead of " << whole.out.size() << " and the text";
  EXPECT_LT(end.elapsed, 4s);
}

TEST(RuntimeLimit, BackstopThatCannotWriteEndsWithStatusTwo) {
  for (const bool printed_before : {false, true}) {
    const ChildEnd end = in_child([&] {
      const int full = ::open("/dev/full", O_WRONLY);
      ::dup2(full, STDOUT_FILENO);
      const auto limit = runtime_limiter(1);
      if (printed_before) standard_output().line("Modo debug ativado.");
      ::sleep(30);
    });
    EXPECT_EQ(end.status, 2) << printed_before;
    EXPECT_LT(end.elapsed, 4s);
  }

  // Standard output a pipe that nobody reads: the run is stuck writing it when the backstop
  // fires, which gives it two seconds and then ends without a word.
  const ChildEnd stuck = in_child([] {
    int unread[2];
    if (::pipe(unread) != 0) ::_exit(9);
    ::dup2(unread[1], STDOUT_FILENO);
    const auto limit = runtime_limiter(1);
    for (int i = 0; i < 20000; ++i) standard_output().line("linha de um relatório longo");
    ::_exit(8);
  });
  EXPECT_EQ(stuck.status, 2);
  EXPECT_LT(stuck.elapsed, 7s);
}

}  // namespace
}  // namespace sonda
