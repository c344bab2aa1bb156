#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "discovery/run_figures.hpp"

namespace sonda {

// How a run ended, as the outcome's "situacao" tells it (the template maps the numbers to
// words).
enum class RunEnd { completed = 0, failed = 1, time_limit = 2, signal = 3 };

// What the Zabbix item sonda_execucao receives about one run.
struct RunOutcome {
  RunEnd end = RunEnd::completed;
  std::optional<int> exit_status;  // absent when a signal ended the run
  std::optional<int> signal;       // the signal that ended it
  std::chrono::system_clock::time_point started;
  std::chrono::duration<double> duration{0};
  RunFigures figures;
  std::string error;  // the run's first error line, or what ended it; empty when nothing did
};

// The outcome of a run that ended with `exit_status` (a direct run, judged by itself). A run
// that reached its time limit ended that way whatever its status; any other status but 0 is a
// failure.
RunOutcome outcome_of_exit(int exit_status, RunFigures figures,
                           std::chrono::system_clock::time_point started,
                           std::chrono::duration<double> duration);

// The outcome of a run that ended with the waitpid() status `wait_status` (a background run,
// judged by the process that waited for it): as above, or ended by a signal.
RunOutcome outcome_of_wait_status(int wait_status, RunFigures figures,
                                  std::chrono::system_clock::time_point started,
                                  std::chrono::duration<double> duration);

// The outcome as one JSON object, figures the run did not reach left out:
// {"situacao": 0, "status": 0, "inicio": 1765280000, "duracao": 2.418, "clientes": 7,
//  "zabbix": {"recusados_fixos": 0, "recusados_por_cliente": 14},
//  "questdb": {"bekClientes": {"gravadas": 7, "nao_gravadas": 0}, ...}, "erro": ""}
// with "sinal" in place of "status" when a signal ended the run. "inicio" is in seconds since
// 1970, "duracao" in seconds.
std::string outcome_json(const RunOutcome& outcome);

}  // namespace sonda
