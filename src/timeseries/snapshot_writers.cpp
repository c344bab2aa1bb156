#include "timeseries/snapshot_writers.hpp"

#include <optional>
#include <string>

#include "console/line_output.hpp"
#include "core/macro_names.hpp"
#include "outside/questdb/questdb_sender.hpp"
#include "timeseries/row_limits.hpp"
#include "timeseries/snapshot_tables.hpp"
#include "timeseries/timestamp.hpp"
#include "timeseries/write_report.hpp"

namespace sonda {

namespace {

TableWriteReport write_snapshots(const SnapshotTable& table, const QuestDbServer& server,
                                 const MacroEntries& descoberta, const CivilTimeZone& zone) {
  const std::int64_t run_stamp = get_timestamp();
  TableWriteReport report;
  report.table = table.name;
  report.total = descoberta.size();

  // The entry of each row handed to the sender, to name the customers of refused rows.
  std::vector<std::size_t> entry_of_row;
  std::optional<QuestDbSender> sender;
  MacroEntry entry;  // each row's, in turn
  try {
    // Each setting reaches the client whole: a password with ";" in it stays a password.
    QuestDbConf conf =
        questdb_conf_for(table.transport, server.ip, server.port, server.username, server.password);
    if (server.rows_per_request) conf.auto_flush_rows = *server.rows_per_request;
    if (server.ca_file) conf.tls_roots = server.ca_file;
    conf.tls_roots_folder = server.ca_folder;
    sender.emplace(std::move(conf));
    SnapshotFields fields;
    entry_of_row.reserve(descoberta.size());
    for (std::size_t i = 0; i < descoberta.size(); ++i) {
      descoberta.fill(i, entry);
      const auto row = snapshot_fields(table, entry, run_stamp, zone, fields);
      if (auto reason = unwritable_reason(table, entry, row)) {
        report.leave_out({entry.at(macro::CLIENTE_ID), std::move(*reason)});
        continue;
      }
      entry_of_row.push_back(i);
      sender->row(table.name, row, TimestampNanos::now());
    }
    sender->flush();
  } catch (const IngressError& error) {
    report.failure = error.what();
  }
  if (sender) {
    report.written = sender->rows_written();
    for (const QuestDbSender::RejectedRow& rejected : sender->rejected_rows()) {
      descoberta.fill(entry_of_row[rejected.row], entry);
      report.leave_out({entry.at(macro::CLIENTE_ID), "recusada pelo QuestDB: " + rejected.reason});
    }
  }
  if (auto line = error_line(report)) write_error_line(*line);
  return report;
}

}  // namespace

TableWriteReport sendQuestDB(const QuestDbServer& server, const MacroEntries& descoberta,
                             const CivilTimeZone& zone) {
  return write_snapshots(kClientesTable, server, descoberta, zone);
}

TableWriteReport sendQuestDBChat(const QuestDbServer& server, const MacroEntries& descoberta,
                                 const CivilTimeZone& zone) {
  return write_snapshots(kCobrancaTable, server, descoberta, zone);
}

}  // namespace sonda
