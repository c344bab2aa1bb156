#include "app/entry.hpp"

#include <sys/prctl.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <new>
#include <span>
#include <string>

#include "app/configuration.hpp"
#include "app/hidden_arguments.hpp"
#include "app/inherited_settings.hpp"
#include "app/outcome_delivery.hpp"
#include "app/probe_settings.hpp"
#include "app/run_mode.hpp"
#include "app/run_settings.hpp"
#include "app/usage.hpp"
#include "console/line_output.hpp"
#include "core/constants.hpp"
#include "discovery/run_figures.hpp"
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
  const std::string line =
      "sonda-cobranca: erro inesperado: " + std::string(kind) + ": " + std::string(message);
  write_error_line(line);
  run_figures::record_error_line(line);
}

int finish(int status) { return standard_output().flush() ? status : kStatusUnflushed; }

// The main pass under the runtime limit; every failure is turned into the exit status here.
int guarded_run_mode(const RunSettings& settings, const Configuration& environment,
                     std::string_view invocation_name) {
  try {
    return finish(run_mode(settings, environment, invocation_name));
  } catch (const TimeoutException& timeout) {
    run_figures::record_time_limit(timeout.what());
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

// Whether this direct run reports its outcome when it ends: only a discovery run that sends to
// Zabbix, and only when SONDA_SEND_OUTCOME asks (a background run's outcome is sent by the
// process that waits for it). Raises ConfigError on a malformed request.
bool reports_outcome(const RunSettings& settings, const Configuration& environment) {
  return settings.mode == "discovery_clientes" && settings.zabbix_host.present() &&
         settings.zabbix_host.value() != "debug" && sends_outcome(environment);
}

}  // namespace

int run_program(int argc, char** argv) {
  const auto started = std::chrono::system_clock::now();
  const auto clock_start = std::chrono::steady_clock::now();
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
  const bool background = is_inherited_settings_form(arguments);
  if (background) {
    // Figures go to the process that waits for this run from the first failure on.
    if (is_run_figures_channel(kRunFiguresFd)) run_figures::mirror_to(kRunFiguresFd);
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
  const Configuration environment = environment_settings();
  bool send_outcome = false;
  if (!background) {
    try {
      send_outcome = reports_outcome(*settings, environment);
    } catch (const Failure& failure) {
      report_unexpected(failure.kind(), failure.what());
      return kStatusFailure;
    }
  }
  const int status = guarded_run_mode(*settings, environment, invocation_name);
  if (send_outcome) {
    // After the run's last line, with the settings of the run (its configuration file too).
    const RunOutcome outcome = outcome_of_exit(status, run_figures::current(), started,
                                               std::chrono::steady_clock::now() - clock_start);
    std::optional<std::string> why;
    try {
      why =
          send_run_outcome(settings->zabbix_host.value(), run_configuration(environment), outcome);
    } catch (const Failure& failure) {
      why = "resultado da execução não enviado ao Zabbix: " + std::string(failure.kind()) + ": " +
            failure.what();
    }
    if (why) write_error_line("Aviso: " + *why);
  }
  return status;
}

}  // namespace sonda
