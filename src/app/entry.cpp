#include "app/entry.hpp"

#include <sys/prctl.h>

#include <csignal>
#include <cstdlib>
#include <new>
#include <span>
#include <string>

#include "app/configuration.hpp"
#include "app/hidden_arguments.hpp"
#include "app/inherited_settings.hpp"
#include "app/run_mode.hpp"
#include "app/run_settings.hpp"
#include "app/usage.hpp"
#include "console/line_output.hpp"
#include "core/constants.hpp"
#include "outside/library_setup.hpp"
#include "outside/process/launcher.hpp"
#include "outside/process/runtime_limit.hpp"

namespace sonda {

namespace {

constexpr int kStatusDone = 0;
constexpr int kStatusFailure = 1;
constexpr int kStatusUnflushed = 2;

void report_unexpected(std::string_view kind, std::string_view message) {
  // Whatever the run wrote before failing still reaches standard output, ahead of the diagnostic.
  (void)standard_output().flush();
  write_error_line("sonda-cobranca: erro inesperado: " + std::string(kind) + ": " +
                   std::string(message));
}

int finish(int status) { return standard_output().flush() ? status : kStatusUnflushed; }

// The main pass under the runtime limit; every failure is turned into the exit status here.
int guarded_run_mode(const RunSettings& settings, const Configuration& environment,
                     std::string_view invocation_name) {
  try {
    return finish(run_mode(settings, environment, invocation_name));
  } catch (const TimeoutException& timeout) {
    standard_output().line(timeout.what());
    return finish(kStatusDone);
  } catch (const Failure& failure) {
    report_unexpected(failure.kind(), failure.what());
  } catch (const std::bad_alloc&) {
    report_unexpected("MemoryError", "memória insuficiente");
  } catch (const std::exception& error) {
    report_unexpected("InternalError", error.what());
  }
  return kStatusFailure;
}

}  // namespace

int run_program(int argc, char** argv) {
  // The process holds three passwords: no core file may keep them, and no other process of the
  // same user may read them from its memory.
  ::prctl(PR_SET_DUMPABLE, 0);
  // A closed pipe must show up as a failed write, not end the process silently.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    prepare_outside_components();
  } catch (const Failure& failure) {
    report_unexpected(failure.kind(), failure.what());
    return kStatusFailure;
  }

  const std::string_view invocation_name = argc > 0 ? argv[0] : "";
  const std::span<const char* const> arguments(argv + (argc > 0 ? 1 : 0),
                                               argc > 0 ? static_cast<std::size_t>(argc - 1) : 0);
  if (asks_for_help(arguments)) {
    standard_output().lines(usage_text());
    return finish(kStatusDone);
  }
  std::optional<RunSettings> settings;
  if (is_inherited_settings_form(arguments)) {
    try {
      settings = read_inherited_settings(kHandedOverFd);
    } catch (const Failure& failure) {
      report_unexpected(failure.kind(), failure.what());
      return kStatusFailure;
    }
  }
  if (!settings) settings = read_run_settings(arguments);
  if (!settings) {
    standard_output().line(wrong_count_line(arguments.size()));
    (void)standard_output().flush();
    return kStatusFailure;
  }
  hide_password_arguments(argc, argv);
  // Every setting besides the arguments is read here, once, and handed down.
  return guarded_run_mode(*settings, environment_settings(), invocation_name);
}

}  // namespace sonda
