#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonda {

// What one QuestDB table got from a run.
struct TableFigures {
  std::string table;
  std::uint64_t written = 0;
  std::uint64_t not_written = 0;
};

// The figures of a run that its outcome reports. A figure of a step the run never finished
// (it failed, reached its limit or was killed before) stays absent: "not known" is not zero.
struct RunFigures {
  std::optional<std::uint64_t> customers;             // customer rows read from the database
  std::optional<std::uint64_t> refused_fixed;         // totals and document refused by Zabbix
  std::optional<std::uint64_t> refused_per_customer;  // per-customer values refused by Zabbix
  std::vector<TableFigures> tables;                   // in the order the writers ran
  std::optional<std::string> first_error;             // the run's first error line
  bool time_limit_reached = false;
};

// The longest error line an outcome carries, in bytes; a longer one is cut at a character.
inline constexpr std::size_t kMaxOutcomeErrorBytes = 1024;

// Reads the records that a run appended to its figures channel (see run_figures::mirror_to),
// in order; a later figure replaces an earlier one of the same name, the first error line
// stays. Lines it does not know (or that were cut off) are skipped.
RunFigures parse_run_figures(std::string_view records);

// The figures of this process's run, kept as they become known: a run killed in the middle
// has already handed over everything it learnt until then.
namespace run_figures {

// From now on, each figure is also appended as one record line to `fd`, the channel that the
// process waiting for this run reads once it has ended. A failed write is ignored: the run's
// own work goes on.
void mirror_to(int fd);

// The channel given to mirror_to(), if any.
std::optional<int> mirror();

void record_customers(std::uint64_t count);
void record_refused_fixed(std::uint64_t count);
void record_refused_per_customer(std::uint64_t count);
void record_table(std::string_view table, std::uint64_t written, std::uint64_t not_written);
// Keeps `line` (on one line, cut to kMaxOutcomeErrorBytes) when it is the run's first.
void record_error_line(std::string_view line);
// The run reached its time limit; `line` is the text it printed.
void record_time_limit(std::string_view line);

// The records that record_time_limit(`line`) appends, prepared in advance for a signal
// handler that cannot build them.
std::string time_limit_records(std::string_view line);

const RunFigures& current();

}  // namespace run_figures

}  // namespace sonda
