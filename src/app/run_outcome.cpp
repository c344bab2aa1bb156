#include "app/run_outcome.hpp"

#include <sys/wait.h>

#include <cstdio>
#include <cstring>

#include "discovery/discovery_document.hpp"

namespace sonda {

namespace {

std::string signal_text(int signal) {
  const char* name = ::sigabbrev_np(signal);
  return "a execução foi encerrada pelo sinal " + std::to_string(signal) +
         (name != nullptr ? " (SIG" + std::string(name) + ")" : std::string());
}

RunOutcome judged(RunOutcome outcome) {
  if (outcome.signal) {
    outcome.end = RunEnd::signal;
  } else if (outcome.figures.time_limit_reached) {
    outcome.end = RunEnd::time_limit;
  } else if (outcome.exit_status.value_or(0) != 0) {
    outcome.end = RunEnd::failed;
  }
  outcome.error = outcome.figures.first_error.value_or("");
  if (outcome.error.empty() && outcome.signal) outcome.error = signal_text(*outcome.signal);
  if (outcome.error.empty() && outcome.end == RunEnd::failed) {
    outcome.error = "a execução terminou com status " + std::to_string(*outcome.exit_status);
  }
  return outcome;
}

void append_member(std::string& out, std::string_view name) {
  if (out.back() != '{') out += ", ";
  append_json_string(out, name);
  out += ": ";
}

void append_count(std::string& out, std::string_view name, std::optional<std::uint64_t> count) {
  if (!count) return;
  append_member(out, name);
  out += std::to_string(*count);
}

}  // namespace

RunOutcome outcome_of_exit(int exit_status, RunFigures figures,
                           std::chrono::system_clock::time_point started,
                           std::chrono::duration<double> duration) {
  return outcome_of_wait_status(W_EXITCODE(exit_status, 0), std::move(figures), started, duration);
}

RunOutcome outcome_of_wait_status(int wait_status, RunFigures figures,
                                  std::chrono::system_clock::time_point started,
                                  std::chrono::duration<double> duration) {
  RunOutcome outcome;
  if (WIFSIGNALED(wait_status)) {
    outcome.signal = WTERMSIG(wait_status);
  } else {
    outcome.exit_status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : wait_status;
  }
  outcome.started = started;
  outcome.duration = duration;
  outcome.figures = std::move(figures);
  return judged(std::move(outcome));
}

std::string outcome_json(const RunOutcome& outcome) {
  std::string out = "{";
  append_member(out, "situacao");
  out += std::to_string(static_cast<int>(outcome.end));
  if (outcome.exit_status) {
    append_member(out, "status");
    out += std::to_string(*outcome.exit_status);
  }
  if (outcome.signal) {
    append_member(out, "sinal");
    out += std::to_string(*outcome.signal);
  }
  append_member(out, "inicio");
  out += std::to_string(
      std::chrono::duration_cast<std::chrono::seconds>(outcome.started.time_since_epoch()).count());
  append_member(out, "duracao");
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", outcome.duration.count());
  out += seconds;

  const RunFigures& figures = outcome.figures;
  append_count(out, "clientes", figures.customers);
  if (figures.refused_fixed || figures.refused_per_customer) {
    append_member(out, "zabbix");
    std::string zabbix = "{";
    append_count(zabbix, "recusados_fixos", figures.refused_fixed);
    append_count(zabbix, "recusados_por_cliente", figures.refused_per_customer);
    out += zabbix + "}";
  }
  if (!figures.tables.empty()) {
    append_member(out, "questdb");
    std::string tables = "{";
    for (const TableFigures& table : figures.tables) {
      append_member(tables, table.table);
      std::string rows = "{";
      append_count(rows, "gravadas", table.written);
      append_count(rows, "nao_gravadas", table.not_written);
      tables += rows + "}";
    }
    out += tables + "}";
  }
  append_member(out, "erro");
  append_json_string(out, outcome.error);
  out += "}";
  return out;
}

}  // namespace sonda
