#include "timeseries/write_report.hpp"

#include "console/value_text.hpp"

namespace sonda {

void TableWriteReport::leave_out(LeftOutRow row) {
  if (named.size() < kNamedRows) named.push_back(std::move(row));
  ++left_out;
}

std::optional<std::string> error_line(const TableWriteReport& report) {
  const std::size_t not_written = report.total - std::min(report.written, report.total);
  if (!report.failure && not_written == 0) return std::nullopt;
  std::string line = "Erro: " + std::string(report.table) + ": ";
  if (report.total == 0) return line + report.failure.value_or("");

  line +=
      std::to_string(not_written) + " de " + std::to_string(report.total) + " linhas não gravadas";
  if (report.failure) line += " (" + std::to_string(report.written) + " gravadas)";
  line += ": ";
  for (std::size_t i = 0; i < report.named.size(); ++i) {
    const LeftOutRow& row = report.named[i];
    if (i > 0) line += ", ";
    line += "cliente ";
    line += is_absent(row.id) ? std::string("sem id") : value_text(row.id);
    line += " (" + row.reason + ")";
  }
  if (report.left_out > report.named.size()) {
    line += " e mais " + std::to_string(report.left_out - report.named.size());
  }
  if (report.failure) line += (report.named.empty() ? "" : "; ") + *report.failure;
  return line;
}

}  // namespace sonda
