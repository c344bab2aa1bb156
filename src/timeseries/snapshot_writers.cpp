#include "timeseries/snapshot_writers.hpp"

#include <array>
#include <string>

#include "console/line_output.hpp"
#include "outside/questdb_sender.hpp"
#include "timeseries/timestamp.hpp"

namespace sonda {

namespace {

// A table column and the entry's macro whose value it receives.
struct ColumnSource {
  std::string_view column;
  std::string_view macro;
};

// The columns of each table in the table's order; the run stamp `timestamp` follows them.
constexpr std::array<ColumnSource, 11> kClientesColumns = {{
    {"idCliente", "{#CLIENTE_ID}"},
    {"razaoSocial", "{#RAZAOSOCIAL}"},
    {"cpfCnpj", "{#CPF_CNPJ}"},
    {"valorDivida", "{#VALOR_DIVIDA}"},
    {"titulosDivida", "{#TITULOS_EM_ATRASO}"},
    {"contatoCliente", "{#CONTATO}"},
    {"tempoVencimento", "{#TEMPO_VENCIMENTO}"},
    {"nomeFantasia", "{#NOME_FANTASIA}"},
    {"dataCadastro", "{#DATA_CADASTRO}"},
    {"statusContrato", "{#STATUS_CONTRATO}"},
    {"bekIdentification", "{#BEK_IDENTIFICATION}"},
}};

constexpr std::array<ColumnSource, 7> kCobrancaColumns = {{
    {"idCliente", "{#CLIENTE_ID}"},
    {"valorDivida", "{#VALOR_DIVIDA}"},
    {"titulosDivida", "{#TITULOS_EM_ATRASO}"},
    {"contatoCliente", "{#CONTATO}"},
    {"dataVencimento", "{#TEMPO_VENCIMENTO}"},
    {"dataCadastro", "{#DATA_CADASTRO}"},
    {"bekIdentification", "{#BEK_IDENTIFICATION}"},
}};

struct SnapshotTable {
  std::string_view name;
  std::string_view scheme;
  std::span<const ColumnSource> columns;
  const Setting& ip;
  const Setting& port;
  const Setting& username;
  const Setting& password;
};

// Every ";" of a setting is doubled, so that no setting can end its value early and add keys
// of its own to the configuration (a password ending in ";tls_verify=unsafe_off" stays a
// password).
std::string configuration(const SnapshotTable& table) {
  return std::string(table.scheme) + "::addr=" + escape_conf_value(table.ip.value()) + ":" +
         escape_conf_value(table.port.value()) +
         ";username=" + escape_conf_value(table.username.value()) +
         ";password=" + escape_conf_value(table.password.value()) + ";";
}

void write_snapshots(const SnapshotTable& table, std::span<const MacroEntry> descoberta) {
  const std::int64_t run_stamp = get_timestamp();
  const std::string conf = configuration(table);
  try {
    QuestDbSender sender = QuestDbSender::from_conf(conf);
    std::array<IlpField, kClientesColumns.size() + 1> fields;
    const std::size_t count = table.columns.size() + 1;
    for (const MacroEntry& entry : descoberta) {
      for (std::size_t i = 0; i < table.columns.size(); ++i) {
        fields[i] = {table.columns[i].column, entry.at(table.columns[i].macro)};
      }
      fields[count - 1] = {"timestamp", run_stamp};
      sender.row(table.name, std::span(fields.data(), count), TimestampNanos::now());
    }
    sender.flush();
  } catch (const IngressError& error) {
    write_error_line("Erro: " + std::string(error.what()));
  }
}

}  // namespace

void sendQuestDB(const RunSettings& settings, std::span<const MacroEntry> descoberta) {
  write_snapshots({"bekClientes", "https", kClientesColumns, settings.quest_db_ip,
                   settings.quest_db_port, settings.quest_db_username, settings.quest_db_password},
                  descoberta);
}

void sendQuestDBChat(const RunSettings& settings, std::span<const MacroEntry> descoberta) {
  write_snapshots({"bekCobranca", "http", kCobrancaColumns, settings.quest_db_ip_chat,
                   settings.quest_db_port_chat, settings.quest_db_username_chat,
                   settings.quest_db_password_chat},
                  descoberta);
}

}  // namespace sonda
