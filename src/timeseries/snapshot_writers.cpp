#include "timeseries/snapshot_writers.hpp"

#include <string>

#include "console/line_output.hpp"
#include "outside/questdb_sender.hpp"
#include "timeseries/snapshot_tables.hpp"
#include "timeseries/timestamp.hpp"

namespace sonda {

namespace {

void write_snapshots(const SnapshotTable& table, const QuestDbServer& server,
                     std::span<const MacroEntry> descoberta) {
  const std::int64_t run_stamp = get_timestamp();
  try {
    // Each setting reaches the client whole: a password with ";" in it stays a password.
    QuestDbSender sender(questdb_conf_for(table.transport, server.ip, server.port, server.username,
                                          server.password));
    SnapshotFields fields;
    for (const MacroEntry& entry : descoberta) {
      sender.row(table.name, snapshot_fields(table, entry, run_stamp, fields),
                 TimestampNanos::now());
    }
    sender.flush();
  } catch (const IngressError& error) {
    write_error_line("Erro: " + std::string(error.what()));
  }
}

}  // namespace

void sendQuestDB(const QuestDbServer& server, std::span<const MacroEntry> descoberta) {
  write_snapshots(kClientesTable, server, descoberta);
}

void sendQuestDBChat(const QuestDbServer& server, std::span<const MacroEntry> descoberta) {
  write_snapshots(kCobrancaTable, server, descoberta);
}

}  // namespace sonda
