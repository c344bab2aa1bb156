#include "timeseries/snapshot_writers.hpp"

#include <charconv>
#include <cstdlib>
#include <optional>
#include <string>

#include "console/line_output.hpp"
#include "outside/questdb_sender.hpp"
#include "timeseries/row_limits.hpp"
#include "timeseries/snapshot_tables.hpp"
#include "timeseries/timestamp.hpp"
#include "timeseries/write_report.hpp"

namespace sonda {

namespace {

// Tests make small requests out of few rows with it; a run never sets it.
constexpr const char* kRowsPerRequestVariable = "SONDA_TEST_ROWS_PER_REQUEST";

// The server of a table, as four settings.
struct ServerSettings {
  const Setting& ip;
  const Setting& port;
  const Setting& username;
  const Setting& password;
};

// ";auto_flush_rows=N;" when the tests ask for requests of N rows, else nothing.
std::string rows_per_request() {
  const char* text = std::getenv(kRowsPerRequestVariable);
  if (text == nullptr || *text == '\0') return {};
  std::size_t rows = 0;
  const char* end = text + std::char_traits<char>::length(text);
  const auto [stop, error] = std::from_chars(text, end, rows);
  if (error != std::errc() || stop != end || rows == 0) {
    throw ConfigError(std::string(kRowsPerRequestVariable) +
                      " deve ser um número inteiro de linhas maior que zero");
  }
  return "auto_flush_rows=" + std::to_string(rows) + ";";
}

// Every ";" of a setting is doubled, so that no setting can end its value early and add keys
// of its own to the configuration (a password ending in ";tls_verify=unsafe_off" stays a
// password).
std::string configuration(const SnapshotTable& table, const ServerSettings& server) {
  return std::string(table.scheme) + "::addr=" + escape_conf_value(server.ip.value()) + ":" +
         escape_conf_value(server.port.value()) +
         ";username=" + escape_conf_value(server.username.value()) +
         ";password=" + escape_conf_value(server.password.value()) + ";" + rows_per_request();
}

std::string unknown_zone(std::string_view name) {
  if (name.empty()) {
    return "o PostgreSQL não informou seu fuso horário (TimeZone), sem o qual as datas não têm "
           "instante";
  }
  return "o fuso horário \"" + std::string(name) +
         "\" do PostgreSQL não é conhecido nesta máquina: instale ou atualize o pacote tzdata, "
         "ou defina o TimeZone do banco com um nome da base de fusos (ex.: America/Sao_Paulo)";
}

void write_snapshots(const SnapshotTable& table, const ServerSettings& server,
                     std::span<const MacroEntry> descoberta, std::string_view database_zone) {
  const std::int64_t run_stamp = get_timestamp();
  const std::string conf = configuration(table, server);
  TableWriteReport report;
  report.table = table.name;
  report.total = descoberta.size();
  const std::optional<CivilTimeZone> zone = CivilTimeZone::load(database_zone);
  if (!zone) {
    report.failure = unknown_zone(database_zone);
    if (auto line = error_line(report)) write_error_line(*line);
    return;
  }

  // The entry of each row handed to the sender, to name the customers of refused rows.
  std::vector<std::size_t> entry_of_row;
  std::optional<QuestDbSender> sender;
  try {
    sender.emplace(QuestDbSender::from_conf(conf));
    SnapshotFields fields;
    entry_of_row.reserve(descoberta.size());
    for (std::size_t i = 0; i < descoberta.size(); ++i) {
      const MacroEntry& entry = descoberta[i];
      const auto row = snapshot_fields(table, entry, run_stamp, *zone, fields);
      if (auto reason = unwritable_reason(table, entry, row)) {
        report.leave_out({entry.at("{#CLIENTE_ID}"), std::move(*reason)});
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
      const MacroEntry& entry = descoberta[entry_of_row[rejected.row]];
      report.leave_out({entry.at("{#CLIENTE_ID}"), "recusada pelo QuestDB: " + rejected.reason});
    }
  }
  if (auto line = error_line(report)) write_error_line(*line);
}

}  // namespace

void sendQuestDB(const RunSettings& settings, std::span<const MacroEntry> descoberta,
                 std::string_view database_zone) {
  write_snapshots(kClientesTable,
                  {settings.quest_db_ip, settings.quest_db_port, settings.quest_db_username,
                   settings.quest_db_password},
                  descoberta, database_zone);
}

void sendQuestDBChat(const RunSettings& settings, std::span<const MacroEntry> descoberta,
                     std::string_view database_zone) {
  write_snapshots(kCobrancaTable,
                  {settings.quest_db_ip_chat, settings.quest_db_port_chat,
                   settings.quest_db_username_chat, settings.quest_db_password_chat},
                  descoberta, database_zone);
}

}  // namespace sonda
