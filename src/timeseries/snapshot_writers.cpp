#include "timeseries/snapshot_writers.hpp"

#include <string>

#include "console/line_output.hpp"
#include "outside/questdb_sender.hpp"
#include "timeseries/snapshot_tables.hpp"
#include "timeseries/timestamp.hpp"

namespace sonda {

namespace {

// The server of a table, as four settings.
struct ServerSettings {
  const Setting& ip;
  const Setting& port;
  const Setting& username;
  const Setting& password;
};

// Every ";" of a setting is doubled, so that no setting can end its value early and add keys
// of its own to the configuration (a password ending in ";tls_verify=unsafe_off" stays a
// password).
std::string configuration(const SnapshotTable& table, const ServerSettings& server) {
  return std::string(table.scheme) + "::addr=" + escape_conf_value(server.ip.value()) + ":" +
         escape_conf_value(server.port.value()) +
         ";username=" + escape_conf_value(server.username.value()) +
         ";password=" + escape_conf_value(server.password.value()) + ";";
}

void write_snapshots(const SnapshotTable& table, const ServerSettings& server,
                     std::span<const MacroEntry> descoberta) {
  const std::int64_t run_stamp = get_timestamp();
  const std::string conf = configuration(table, server);
  try {
    QuestDbSender sender = QuestDbSender::from_conf(conf);
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

void sendQuestDB(const RunSettings& settings, std::span<const MacroEntry> descoberta) {
  write_snapshots(kClientesTable,
                  {settings.quest_db_ip, settings.quest_db_port, settings.quest_db_username,
                   settings.quest_db_password},
                  descoberta);
}

void sendQuestDBChat(const RunSettings& settings, std::span<const MacroEntry> descoberta) {
  write_snapshots(kCobrancaTable,
                  {settings.quest_db_ip_chat, settings.quest_db_port_chat,
                   settings.quest_db_username_chat, settings.quest_db_password_chat},
                  descoberta);
}

}  // namespace sonda
