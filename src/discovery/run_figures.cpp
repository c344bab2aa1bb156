#include "discovery/run_figures.hpp"

#include "console/line_output.hpp"
#include "core/one_line.hpp"
#include "core/utf8_text.hpp"
#include "core/whole_number.hpp"

namespace sonda {

namespace {

// One record per line: a name, then its value. Names are the outcome's own words.
constexpr std::string_view kCustomers = "clientes";
constexpr std::string_view kRefusedFixed = "recusados_fixos";
constexpr std::string_view kRefusedPerCustomer = "recusados_por_cliente";
constexpr std::string_view kTable = "tabela";
constexpr std::string_view kError = "erro";
constexpr std::string_view kTimeLimit = "tempo_limite";

RunFigures g_figures;
std::optional<int> g_mirror;

// The next blank-separated word of `text`, taken off its front.
std::string_view take_word(std::string_view& text) {
  const std::size_t blank = text.find(' ');
  const std::string_view word = text.substr(0, blank);
  text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
  return word;
}

// `line` as an outcome carries it: valid UTF-8 on one line, cut before a character that would
// pass kMaxOutcomeErrorBytes.
std::string error_text(std::string_view line) {
  std::string repaired;
  append_repaired_utf8(repaired, one_line(line));
  if (repaired.size() <= kMaxOutcomeErrorBytes) return repaired;
  std::size_t cut = kMaxOutcomeErrorBytes;
  while (cut > 0 && (static_cast<unsigned char>(repaired[cut]) & 0xC0) == 0x80) --cut;
  repaired.resize(cut);
  return repaired;
}

void apply(RunFigures& figures, std::string_view record) {
  std::string_view rest = record;
  const std::string_view name = take_word(rest);
  if (name == kCustomers) {
    if (auto value = parse_whole_number<std::uint64_t>(rest)) figures.customers = value;
  } else if (name == kRefusedFixed) {
    if (auto value = parse_whole_number<std::uint64_t>(rest)) figures.refused_fixed = value;
  } else if (name == kRefusedPerCustomer) {
    if (auto value = parse_whole_number<std::uint64_t>(rest)) figures.refused_per_customer = value;
  } else if (name == kTable) {
    const std::string_view table = take_word(rest);
    const auto written = parse_whole_number<std::uint64_t>(take_word(rest));
    const auto not_written = parse_whole_number<std::uint64_t>(rest);
    if (table.empty() || !written || !not_written) return;
    figures.tables.push_back({std::string(table), *written, *not_written});
  } else if (name == kError) {
    if (!figures.first_error && !rest.empty()) figures.first_error = std::string(rest);
  } else if (name == kTimeLimit) {
    figures.time_limit_reached = true;
  }
}

void record(std::string_view line) {
  apply(g_figures, line);
  if (g_mirror) (void)write_all(*g_mirror, std::string(line) + "\n");
}

}  // namespace

RunFigures parse_run_figures(std::string_view records) {
  RunFigures figures;
  // Only whole lines: the last one may have been cut by a run killed while writing it.
  for (std::size_t end; (end = records.find('\n')) != std::string_view::npos;) {
    apply(figures, records.substr(0, end));
    records.remove_prefix(end + 1);
  }
  return figures;
}

namespace run_figures {

void mirror_to(int fd) { g_mirror = fd; }

std::optional<int> mirror() { return g_mirror; }

void record_customers(std::uint64_t count) {
  record(std::string(kCustomers) + " " + std::to_string(count));
}

void record_refused_fixed(std::uint64_t count) {
  record(std::string(kRefusedFixed) + " " + std::to_string(count));
}

void record_refused_per_customer(std::uint64_t count) {
  record(std::string(kRefusedPerCustomer) + " " + std::to_string(count));
}

void record_table(std::string_view table, std::uint64_t written, std::uint64_t not_written) {
  record(std::string(kTable) + " " + std::string(table) + " " + std::to_string(written) + " " +
         std::to_string(not_written));
}

void record_error_line(std::string_view line) {
  if (g_figures.first_error) return;
  const std::string text = error_text(line);
  if (!text.empty()) record(std::string(kError) + " " + text);
}

void record_time_limit(std::string_view line) {
  record_error_line(line);
  record(kTimeLimit);
}

std::string time_limit_records(std::string_view line) {
  return std::string(kError) + " " + error_text(line) + "\n" + std::string(kTimeLimit) + "\n";
}

const RunFigures& current() { return g_figures; }

}  // namespace run_figures

}  // namespace sonda
