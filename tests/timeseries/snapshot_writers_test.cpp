// The two snapshot writers against the real QuestDB server of the tests: bekClientes over HTTPS
// (through the TLS proxy), bekCobranca over plain HTTP. The server's password holds
// ";tls_verify=unsafe_off", so every write here also proves that settings cannot add keys.
#include "timeseries/snapshot_writers.hpp"

#include <stdlib.h>
#include <time.h>

#include <chrono>

#include <gtest/gtest.h>

#include "app/discovery_inputs.hpp"
#include "app/probe_settings.hpp"
#include "outside/process/runtime_limit.hpp"
#include "support/captured_stderr.hpp"
#include "support/fake_server.hpp"
#include "support/questdb.hpp"
#include "support/servers.hpp"
#include "support/values.hpp"
#include "timeseries/snapshot_zone.hpp"
#include "timeseries/timestamp.hpp"

namespace sonda::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

MacroEntry snapshot(FieldValue id, FieldValue razao, FieldValue cpf, FieldValue valor,
                    FieldValue titulos, FieldValue contato, FieldValue tempo, FieldValue fantasia,
                    FieldValue cadastro, FieldValue status, std::string_view host) {
  return {{"{#CLIENTE_ID}", id},
          {"{#RAZAOSOCIAL}", razao},
          {"{#CPF_CNPJ}", cpf},
          {"{#VALOR_DIVIDA}", valor},
          {"{#TITULOS_EM_ATRASO}", titulos},
          {"{#CONTATO}", contato},
          {"{#TEMPO_VENCIMENTO}", tempo},
          {"{#NOME_FANTASIA}", fantasia},
          {"{#DATA_CADASTRO}", cadastro},
          {"{#STATUS_CONTRATO}", status},
          {"{#BEK_IDENTIFICATION}", text(host)}};
}

const Absent none;

// The database session's zone in which the entries' date-times are read.
constexpr std::string_view kZone = "America/Sao_Paulo";

// Three customers: one with every value, one with most values absent, one without id or
// registration date.
std::vector<MacroEntry> three_entries(std::string_view host) {
  return {
      snapshot(integer(42), text("Mercado \"Azul\", Ltda\\x\nFilial 😀"), text("00000000000"), 150.5,
               integer(2), text("0000-0000 | 1111-1111"), at(2020, 1, 10), text("Mercadinho"),
               at(2023, 5, 17, 14, 3, 27, 123456), integer(1), host),
      snapshot(integer(43), text("Loja Azul"), none, 0.0, integer(0), none, none, none,
               at(2022, 12, 31, 23, 59, 59), none, host),
      snapshot(none, none, none, 1e-05, integer(1), text("x"), at(2021, 6, 1), none, none,
               integer(3), host),
  };
}

// The writers as a run calls them, with the servers of the command line `settings` and the
// probe's settings of this process's environment.
void write_clientes(const RunSettings& settings, std::span<const MacroEntry> entries,
                    std::string_view zone) {
  sendQuestDB(clientes_server(settings, environment_settings()), BuiltMacroEntries(entries),
              snapshot_time_zone(zone, machine_zone(environment_settings())));
}
void write_cobranca(const RunSettings& settings, std::span<const MacroEntry> entries,
                    std::string_view zone) {
  sendQuestDBChat(cobranca_server(settings, environment_settings()), BuiltMacroEntries(entries),
                  snapshot_time_zone(zone, machine_zone(environment_settings())));
}

RunSettings writer_settings() {
  RunSettings settings = fixture_settings();
  return settings;
}

class SnapshotWriters : public ::testing::Test {
 protected:
  void SetUp() override {
    // Date-times are read in the local zone: São Paulo is UTC-3.
    ::setenv("TZ", "America/Sao_Paulo", 1);
    ::tzset();
    ::setenv("SSL_CERT_FILE", questdb_server().ca.c_str(), 1);
    truncate_questdb_tables();
  }
  void TearDown() override {
    ::unsetenv("TZ");
    ::unsetenv("SSL_CERT_FILE");
    ::tzset();
  }
};

std::int64_t micros(const json& iso) {
  // QuestDB answers timestamps as 2023-05-17T17:03:27.123456Z.
  const std::string text = iso.get<std::string>();
  CivilDateTime civil{std::stoi(text.substr(0, 4)),
                      static_cast<unsigned>(std::stoi(text.substr(5, 2))),
                      static_cast<unsigned>(std::stoi(text.substr(8, 2))),
                      std::stoi(text.substr(11, 2)),
                      std::stoi(text.substr(14, 2)),
                      std::stoi(text.substr(17, 2)),
                      std::stoi(text.substr(20, 6))};
  return from_civil(civil).micros;
}

TEST_F(SnapshotWriters, RowsReadBackExactlyFromBothTables) {
  const auto entries = three_entries("exato");
  const std::int64_t before = get_timestamp();
  {
    CapturedStderr errors;
    write_clientes(writer_settings(), entries, kZone);
    write_cobranca(writer_settings(), entries, kZone);
    EXPECT_EQ(errors.text(), "");
  }
  const std::int64_t after = get_timestamp();

  const std::map<std::string, std::string> clientes_types = {{"idCliente", "INT"},
                                                             {"razaoSocial", "SYMBOL"},
                                                             {"cpfCnpj", "SYMBOL"},
                                                             {"valorDivida", "DOUBLE"},
                                                             {"titulosDivida", "INT"},
                                                             {"contatoCliente", "SYMBOL"},
                                                             {"tempoVencimento", "TIMESTAMP"},
                                                             {"nomeFantasia", "SYMBOL"},
                                                             {"dataCadastro", "TIMESTAMP"},
                                                             {"statusContrato", "INT"},
                                                             {"bekIdentification", "SYMBOL"},
                                                             {"timestamp", "TIMESTAMP"}};
  EXPECT_EQ(questdb_column_types("bekClientes"), clientes_types);

  const auto clientes = questdb_rows("bekClientes", "exato");
  ASSERT_EQ(clientes.size(), 3u);
  // Rows are ordered by idCliente: the one without id comes first.
  const json& sem_id = clientes[0];
  const json& mercado = clientes[1];
  const json& loja = clientes[2];
  EXPECT_EQ(mercado["idCliente"], 42);
  EXPECT_EQ(mercado["razaoSocial"], "Mercado \"Azul\", Ltda\\x\nFilial 😀");
  EXPECT_EQ(mercado["cpfCnpj"], "00000000000");
  EXPECT_EQ(mercado["valorDivida"], 150.5);
  EXPECT_EQ(mercado["titulosDivida"], 2);
  EXPECT_EQ(mercado["contatoCliente"], "0000-0000 | 1111-1111");
  EXPECT_EQ(mercado["tempoVencimento"], "2020-01-10T03:00:00.000000Z");
  EXPECT_EQ(mercado["nomeFantasia"], "Mercadinho");
  EXPECT_EQ(mercado["dataCadastro"], "2023-05-17T17:03:27.123456Z");
  EXPECT_EQ(mercado["statusContrato"], 1);
  EXPECT_EQ(mercado["bekIdentification"], "exato");

  EXPECT_EQ(loja["cpfCnpj"], nullptr);
  EXPECT_EQ(loja["valorDivida"], 0.0);
  EXPECT_EQ(loja["contatoCliente"], nullptr);
  EXPECT_EQ(loja["tempoVencimento"], nullptr);
  EXPECT_EQ(loja["nomeFantasia"], nullptr);
  EXPECT_EQ(loja["statusContrato"], nullptr);
  EXPECT_EQ(loja["dataCadastro"], "2023-01-01T02:59:59.000000Z");

  EXPECT_EQ(sem_id["idCliente"], nullptr);
  EXPECT_EQ(sem_id["valorDivida"], 1e-05);
  // Without a registration date the server keeps the row's own timestamp, read from the clock
  // just before the row was handed over.
  EXPECT_GE(micros(sem_id["dataCadastro"]), before);
  EXPECT_LE(micros(sem_id["dataCadastro"]), after);

  // One run stamp for every row of a writer.
  const std::int64_t stamp = micros(mercado["timestamp"]);
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  EXPECT_EQ(micros(loja["timestamp"]), stamp);
  EXPECT_EQ(micros(sem_id["timestamp"]), stamp);

  const auto cobranca = questdb_rows("bekCobranca", "exato");
  ASSERT_EQ(cobranca.size(), 3u);
  EXPECT_EQ(cobranca[1].size(), 8u);
  EXPECT_EQ(cobranca[1]["idCliente"], 42);
  EXPECT_EQ(cobranca[1]["valorDivida"], 150.5);
  EXPECT_EQ(cobranca[1]["titulosDivida"], 2);
  EXPECT_EQ(cobranca[1]["contatoCliente"], "0000-0000 | 1111-1111");
  EXPECT_EQ(cobranca[1]["dataVencimento"], "2020-01-10T03:00:00.000000Z");
  EXPECT_EQ(cobranca[1]["dataCadastro"], "2023-05-17T17:03:27.123456Z");
  EXPECT_EQ(cobranca[2]["dataVencimento"], nullptr);
  EXPECT_EQ(micros(cobranca[1]["timestamp"]), micros(cobranca[2]["timestamp"]));
}

TEST_F(SnapshotWriters, ASecondRunUpsertsWhereTheKeysMatch) {
  auto entries = three_entries("upsert");
  entries.pop_back();  // the entry without registration date gets a new key each run
  write_clientes(writer_settings(), entries, kZone);
  write_cobranca(writer_settings(), entries, kZone);
  write_clientes(writer_settings(), entries, kZone);
  write_cobranca(writer_settings(), entries, kZone);
  EXPECT_EQ(questdb_rows("bekClientes", "upsert").size(), 2u);
  EXPECT_EQ(questdb_rows("bekCobranca", "upsert").size(), 2u);
}

TEST_F(SnapshotWriters, EmptyListWritesAndPrintsNothing) {
  CapturedStderr errors;
  write_clientes(writer_settings(), {}, kZone);
  write_cobranca(writer_settings(), {}, kZone);
  EXPECT_EQ(errors.text(), "");
  EXPECT_EQ(questdb_query("SELECT count() FROM bekClientes")["dataset"][0][0], 0);
}

// Runs both writers with `settings`; returns what they wrote on standard error.
std::string both_writers(const RunSettings& settings, const std::vector<MacroEntry>& entries) {
  CapturedStderr errors;
  write_clientes(settings, entries, kZone);
  write_cobranca(settings, entries, kZone);
  return errors.text();
}

bool one_error_line_containing(const std::string& errors, const std::string& text) {
  return errors.starts_with("Erro: ") && errors.find('\n') == errors.size() - 1 &&
         errors.find(text) != std::string::npos;
}

TEST_F(SnapshotWriters, CustomerServerDownLeavesTheBillingTableWhole) {
  RunSettings settings = writer_settings();
  settings.quest_db_port.assign(std::to_string(closed_port()));
  const std::string errors = both_writers(settings, three_entries("fora"));
  EXPECT_TRUE(one_error_line_containing(errors, "não foi possível enviar ao QuestDB em localhost:"))
      << errors;
  EXPECT_EQ(questdb_rows("bekClientes", "fora").size(), 0u);
  EXPECT_EQ(questdb_rows("bekCobranca", "fora").size(), 3u);
}

TEST_F(SnapshotWriters, WrongPasswordIsOneErrorLine) {
  RunSettings settings = writer_settings();
  settings.quest_db_password_chat.assign("errada;de;propósito");
  const std::string errors = both_writers(settings, three_entries("senha"));
  EXPECT_TRUE(one_error_line_containing(errors, "recusou o usuário e a senha (HTTP 401)"))
      << errors;
  EXPECT_EQ(errors.find("propósito"), std::string::npos);
  EXPECT_EQ(questdb_rows("bekClientes", "senha").size(), 3u);
}

TEST_F(SnapshotWriters, ColumnOfAnotherKindIsOneErrorLineWithTheServersWords) {
  // A status the INT column cannot take in two ways: beyond its range, seen before sending, which
  // costs its own row only; a text, which only the server finds and which blames the column (a
  // run's statuses are all of one kind): the request fails as one, without re-sending.
  auto entries = three_entries("recusa");
  entries.push_back(snapshot(integer(44), none, none, 1.0, integer(0), none, none, none,
                             at(2024, 1, 1), integer(3'000'000'000), "recusa"));
  entries.push_back(snapshot(integer(45), none, none, 1.0, integer(0), none, none, none,
                             at(2024, 1, 2), text("ativo"), "recusa"));
  const std::string errors = both_writers(writer_settings(), entries);
  EXPECT_TRUE(errors.starts_with(
      "Erro: bekClientes: 5 de 5 linhas não gravadas (0 gravadas): cliente 44 (statusContrato "
      "3000000000 fora da faixa de INT); o QuestDB em " +
      questdb_server().tls_host + ":" + questdb_server().tls_port +
      " recusou as linhas (HTTP 400): failed to parse line protocol:errors encountered on "
      "line(s): error in line 4: table: bekClientes, column: statusContrato; cast error from "
      "protocol type: STRING to column type: INT [id: "))
      << errors;
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
  EXPECT_EQ(questdb_rows("bekClientes", "recusa").size(), 0u);
  EXPECT_EQ(questdb_rows("bekCobranca", "recusa").size(), 5u);
}

TEST_F(SnapshotWriters, UntrustedCertificateIsRefusedWhateverThePasswordSays) {
  ::unsetenv("SSL_CERT_FILE");  // the system's store does not know the tests' CA
  const std::string errors = both_writers(writer_settings(), three_entries("certificado"));
  EXPECT_TRUE(one_error_line_containing(errors, "certificado não confiável")) << errors;
  EXPECT_EQ(questdb_rows("bekClientes", "certificado").size(), 0u);
  EXPECT_EQ(questdb_rows("bekCobranca", "certificado").size(), 3u);
}

TEST_F(SnapshotWriters, ServerThatNeverAnswersIsBoundedByRequestTimeoutAndRunLimit) {
  FakeServer silent(hold_silently);
  RunSettings settings = writer_settings();
  settings.quest_db_ip.assign("127.0.0.1");
  settings.quest_db_port.assign(std::to_string(silent.port()));
  CapturedStderr errors;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(
      {
        const auto limit = runtime_limiter(2);
        write_clientes(settings, three_entries("mudo"), kZone);
      },
      TimeoutException);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
  EXPECT_EQ(errors.text(), "");  // the time limit is not an ingestion failure

  // Without a close limit, the request's own time-out (10 s) ends it as an ingestion failure.
  settings.quest_db_ip_chat.assign("127.0.0.1");
  settings.quest_db_port_chat.assign(std::to_string(silent.port()));
  write_cobranca(settings, three_entries("mudo"), kZone);
  EXPECT_TRUE(one_error_line_containing(errors.text(), "Operation timed out")) << errors.text();
}

TEST_F(SnapshotWriters, ServerThatDropsPacketsCostsSecondsHoweverLargeTheRequest) {
  // 3,000 rows of 2 KiB names: a 6 MB request, allowed about a minute to transfer. Connecting
  // is bounded on its own, so the address that never answers costs its few seconds only.
  const std::string long_name(2048, 'x');
  std::vector<MacroEntry> entries;
  for (int i = 0; i < 3000; ++i) {
    entries.push_back(snapshot(integer(i), text(long_name), none, 1.0, integer(0), none, none, none,
                               at(2024, 1, 1, 0, 0, i), none, "grande"));
  }
  DroppingPort dropping;
  RunSettings settings = writer_settings();
  settings.quest_db_ip.assign("127.0.0.1");
  settings.quest_db_port.assign(std::to_string(dropping.port()));
  const auto start = std::chrono::steady_clock::now();
  const std::string errors = both_writers(settings, entries);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 25s);
  EXPECT_TRUE(one_error_line_containing(
      errors,
      "Erro: bekClientes: 3000 de 3000 linhas não gravadas (0 gravadas): não foi possível enviar "
      "ao QuestDB em 127.0.0.1:"))
      << errors;
  EXPECT_EQ(questdb_rows("bekCobranca", "grande").size(), 3000u);
}

TEST_F(SnapshotWriters, ZoneThisMachineDoesNotKnowIsReadInTheMachinesOwnWithOneLineThatSaysSo) {
  // A rule that no tz database names, and no zone at all: every row is still written, read as
  // this machine's zone (TZ, São Paulo here) reads it, as before the database's zone was used.
  for (const std::string_view database_zone : {"BRT3BRST,M10.3.0/0,M2.3.0/0", ""}) {
    SCOPED_TRACE(database_zone);
    truncate_questdb_tables();
    std::string errors;
    {
      CapturedStderr captured;
      const CivilTimeZone zone =
          snapshot_time_zone(database_zone, machine_zone(environment_settings()));
      sendQuestDB(clientes_server(writer_settings(), environment_settings()),
                  BuiltMacroEntries(three_entries("sem-fuso")), zone);
      sendQuestDBChat(cobranca_server(writer_settings(), environment_settings()),
                      BuiltMacroEntries(three_entries("sem-fuso")), zone);
      errors = captured.text();
    }
    EXPECT_EQ(errors,
              database_zone.empty()
                  ? "Aviso: o PostgreSQL não informou seu fuso horário (TimeZone): as datas de "
                    "bekClientes e bekCobranca serão lidas no fuso horário desta máquina "
                    "(America/Sao_Paulo).\n"
                  : "Aviso: o fuso horário \"BRT3BRST,M10.3.0/0,M2.3.0/0\" do PostgreSQL não "
                    "está na base de fusos horários desta máquina: as datas de bekClientes e "
                    "bekCobranca serão lidas no fuso horário desta máquina (America/Sao_Paulo). "
                    "Para lê-las no fuso do banco, atualize o pacote tzdata ou defina o TimeZone "
                    "do banco com um nome dessa base (ex.: America/Sao_Paulo).\n");
    const auto clientes = questdb_rows("bekClientes", "sem-fuso");
    ASSERT_EQ(clientes.size(), 3u);
    EXPECT_EQ(clientes[2]["dataCadastro"], "2023-01-01T02:59:59.000000Z");  // UTC-3
    EXPECT_EQ(questdb_rows("bekCobranca", "sem-fuso").size(), 3u);
  }
}

TEST_F(SnapshotWriters, EntryWithoutANameReadIsNotAnIngestionFailure) {
  std::vector<MacroEntry> entries = {{{"{#CLIENTE_ID}", integer(1)}}};
  CapturedStderr errors;
  EXPECT_THROW(write_clientes(writer_settings(), entries, kZone), InternalError);
  EXPECT_EQ(errors.text(), "");
}

}  // namespace
}  // namespace sonda::test
