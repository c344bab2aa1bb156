// Whole runs through the real binary, PostgreSQL and QuestDB (Zabbix faked), about the rows of
// the snapshot tables: bad rows cost only themselves, names that are not UTF-8 keep their rows,
// and date-times are the instants the database means whatever the machine's zone.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "support/fake_questdb.hpp"
#include "support/fake_zabbix.hpp"
#include "support/process.hpp"
#include "support/questdb.hpp"
#include "support/servers.hpp"
#include "support/temp_dir.hpp"

namespace sonda::test {
namespace {

using nlohmann::json;

class SnapshotRows : public ::testing::Test {
 protected:
  void SetUp() override { truncate_questdb_tables(); }

  static ProcessResult run(const std::string& database, const std::string& host,
                           const FakeZabbix& trapper,
                           std::map<std::string, std::optional<std::string>> env = {}) {
    RunSettings settings = fixture_settings(database);
    settings.zabbix_host.assign(host);
    ProcessOptions options;
    options.env = std::move(env);
    options.env["SONDA_ZABBIX_SERVER"] = trapper.address();
    options.env["SSL_CERT_FILE"] = questdb_server().ca;
    options.env.try_emplace("PGTZ", std::nullopt);  // unless a test sets it, the database decides
    return run_probe(full_form_arguments(settings), options);
  }

  static void create(const std::string& database, const std::string& encoding,
                     const std::string& zone, const std::string& rows_sql) {
    {
      PgSession admin("postgres");
      admin.exec("DROP DATABASE IF EXISTS \"" + database + "\" WITH (FORCE)");
      admin.exec("CREATE DATABASE \"" + database + "\" TEMPLATE template0 ENCODING '" + encoding +
                 "' LC_COLLATE 'C' LC_CTYPE 'C'");
    }
    set_role_zone(database, zone);
    create_tables(database, rows_sql);
  }

  // The login role's own zone in that database, as an operator would set it.
  static void set_role_zone(const std::string& database, const std::string& zone) {
    PgSession session(database);
    session.exec("ALTER ROLE CURRENT_USER IN DATABASE \"" + database + "\" SET timezone = '" +
                 zone + "'");
  }

  static void create_tables(const std::string& database, const std::string& rows_sql) {
    const std::string schema = pg_server().fixtures + "/billing_schema.sql";
    std::ifstream input(schema);
    std::ostringstream sql;
    sql << input.rdbuf();
    PgSession session(database);
    session.exec(sql.str());
    session.exec(rows_sql);
  }

  static std::vector<std::int64_t> ids(const std::vector<json>& rows) {
    std::vector<std::int64_t> out;
    for (const json& row : rows) out.push_back(row["idCliente"].get<std::int64_t>());
    return out;
  }
};

// 250 customers registered on consecutive days; three that the tables cannot take.
const std::string kManyCustomers = R"(
  ALTER TABLE admcore_clientecontratostatus ALTER status TYPE bigint;
  INSERT INTO admcore_pessoa (id, nome, cpfcnpj)
    SELECT g, 'Cliente ' || g, lpad(g::text, 11, '0') FROM generate_series(1, 250) g;
  INSERT INTO admcore_cliente (id, pessoa_id) SELECT g, g FROM generate_series(1, 250) g;
  INSERT INTO admcore_clientecontratostatus (id, status) VALUES (1, 1), (2, 3000000000);
  INSERT INTO admcore_clientecontrato (cliente_id, data_cadastro, status_id, pop_id)
    SELECT g, TIMESTAMP '2020-01-01 12:00' + g * INTERVAL '1 day',
           CASE WHEN g = 99 THEN 2 ELSE 1 END, 1
    FROM generate_series(1, 250) g;
  UPDATE admcore_clientecontrato SET data_cadastro = '1900-01-01' WHERE cliente_id = 17;
  UPDATE admcore_clientecontrato SET data_cadastro = '1969-12-31 23:00' WHERE cliente_id = 150;
)";

TEST_F(SnapshotRows, BadRowsAmongManyGoodOnesCostOnlyThemselves) {
  create("cobranca_linhas_ruins", "UTF8", "UTC", kManyCustomers);
  FakeZabbix trapper;
  // Requests of 40 rows: the bad rows fall into different requests.
  const auto result =
      run("cobranca_linhas_ruins", "ruins", trapper, {{"SONDA_TEST_ROWS_PER_REQUEST", "40"}});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "OK\n");
  EXPECT_EQ(result.err,
            "Erro: bekClientes: 3 de 250 linhas não gravadas: cliente 17 (dataCadastro "
            "1900-01-01 antes de 1970), cliente 99 (statusContrato 3000000000 fora da faixa de "
            "INT), cliente 150 (dataCadastro 1969-12-31 23:00:00 antes de 1970)\n"
            "Erro: bekCobranca: 2 de 250 linhas não gravadas: cliente 17 (dataCadastro "
            "1900-01-01 antes de 1970), cliente 150 (dataCadastro 1969-12-31 23:00:00 antes de "
            "1970)\n");

  std::vector<std::int64_t> all_but_bad;
  std::vector<std::int64_t> all_but_dates;
  for (std::int64_t id = 1; id <= 250; ++id) {
    if (id != 17 && id != 150) all_but_dates.push_back(id);
    if (id != 17 && id != 99 && id != 150) all_but_bad.push_back(id);
  }
  const auto clientes = questdb_rows("bekClientes", "ruins");
  EXPECT_EQ(ids(clientes), all_but_bad);
  const auto cobranca = questdb_rows("bekCobranca", "ruins");
  EXPECT_EQ(ids(cobranca), all_but_dates);
  // Every good row with its values: customer 250 was registered 250 days after 2020-01-01.
  const json& last = clientes.back();
  EXPECT_EQ(last["idCliente"], 250);
  EXPECT_EQ(last["razaoSocial"], "Cliente 250");
  EXPECT_EQ(last["cpfCnpj"], "00000000250");
  EXPECT_EQ(last["statusContrato"], 1);
  EXPECT_EQ(last["valorDivida"], 0.0);
  EXPECT_EQ(last["dataCadastro"], "2020-09-07T12:00:00.000000Z");
  for (const json& row : clientes) {
    EXPECT_EQ(row["razaoSocial"], "Cliente " + std::to_string(row["idCliente"].get<int>()));
  }
  EXPECT_EQ(cobranca[97]["idCliente"], 99);  // its status is no column of bekCobranca
  EXPECT_EQ(cobranca[97]["dataCadastro"], "2020-04-09T12:00:00.000000Z");
}

TEST_F(SnapshotRows, LatinOneNamesOfASqlAsciiDatabaseArriveWithReplacementCharacters) {
  // Bytes of Latin-1: "Estação", "João Conceição" and a contact "Sé".
  create("cobranca_sql_ascii", "SQL_ASCII", "UTC", R"(
    INSERT INTO admcore_pessoa (id, nome, cpfcnpj, nomefantasia) VALUES
      (1, E'Esta\347\343o', '1', E'Caf\351'), (2, E'Jo\343o Concei\347\343o', '2', NULL),
      (3, 'Ascii', '3', NULL);
    INSERT INTO admcore_cliente (id, pessoa_id) VALUES (1, 1), (2, 2), (3, 3);
    INSERT INTO admcore_clientecontratostatus (id, status) VALUES (1, 1);
    INSERT INTO admcore_clientecontrato (cliente_id, data_cadastro, status_id, pop_id) VALUES
      (1, '2024-01-01', 1, 1), (2, '2024-01-02', 1, 1), (3, '2024-01-03', 1, 1);
    INSERT INTO admcore_contato (id, contato) VALUES (1, E'S\351');
    INSERT INTO admcore_clientecontato (cliente_id, contato_id) VALUES (2, 1);
  )");
  FakeZabbix trapper;
  const auto result = run("cobranca_sql_ascii", "latin1", trapper);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "OK\n");
  EXPECT_EQ(result.err, "");

  const std::string estacao = "Esta\uFFFD\uFFFDo";
  const std::string joao = "Jo\uFFFDo Concei\uFFFD\uFFFDo";
  const auto clientes = questdb_rows("bekClientes", "latin1");
  ASSERT_EQ(clientes.size(), 3u);
  EXPECT_EQ(clientes[0]["razaoSocial"], estacao);
  EXPECT_EQ(clientes[0]["nomeFantasia"], "Caf\uFFFD");
  EXPECT_EQ(clientes[1]["razaoSocial"], joao);
  EXPECT_EQ(clientes[1]["contatoCliente"], "S\uFFFD");
  EXPECT_EQ(clientes[2]["razaoSocial"], "Ascii");
  const auto cobranca = questdb_rows("bekCobranca", "latin1");
  ASSERT_EQ(cobranca.size(), 3u);
  EXPECT_EQ(cobranca[1]["contatoCliente"], "S\uFFFD");

  // What Zabbix receives: the discovery document and a contact's customer, with U+FFFD too.
  json document;
  for (const json& item : trapper.items()) {
    if (item["key"] == "discovery_clientes")
      document = json::parse(item["value"].get<std::string>());
  }
  ASSERT_EQ(document["data"].size(), 3u);
  EXPECT_EQ(document["data"][0]["{#RAZAOSOCIAL}"], estacao);
  EXPECT_EQ(document["data"][1]["{#RAZAOSOCIAL}"], joao);
  EXPECT_EQ(document["data"][1]["{#CONTATO}"], "S\uFFFD");
  EXPECT_EQ(trapper.items().size(), 5u + 2 * 3);
}

// Registration dates at the transitions of New York and São Paulo in 2018, in rows ordered so
// that the repeated New York hour follows a summer row (1) and a winter row (3).
const std::string kTransitions = R"(
  INSERT INTO admcore_pessoa (id, nome) SELECT g, 'Cliente ' || g FROM generate_series(1, 7) g;
  INSERT INTO admcore_cliente (id, pessoa_id) SELECT g, g FROM generate_series(1, 7) g;
  INSERT INTO admcore_clientecontratostatus (id, status) VALUES (1, 1);
  INSERT INTO admcore_clientecontrato (cliente_id, data_cadastro, status_id, pop_id) VALUES
    (1, '2018-07-01 12:00', 1, 1), (2, '2018-11-04 01:30', 1, 1), (3, '2018-01-15 12:00', 1, 1),
    (4, '2018-11-04 01:30', 1, 1), (5, '2018-03-11 02:30', 1, 1), (6, '2018-02-17 23:30', 1, 1),
    (7, '2018-11-04 00:30', 1, 1);
  -- Overdue since São Paulo's midnight that never was.
  INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento) VALUES
    (7, 10, 1, '2018-11-04');
)";

TEST_F(SnapshotRows, DateTimesAreTheInstantsOfTheDatabasesZoneNotTheMachines) {
  create("cobranca_fusos", "UTF8", "UTC", kTransitions);
  struct Case {
    std::string database_zone, machine_zone, host;
    std::vector<std::string> cadastro;  // customers 1 to 7
    std::string vencimento;             // customer 7
  };
  std::vector<Case> cases = {
      {"America/New_York",
       "UTC",
       "fuso-ny",
       {"2018-07-01T16:00:00.000000Z", "2018-11-04T05:30:00.000000Z", "2018-01-15T17:00:00.000000Z",
        "2018-11-04T05:30:00.000000Z", "2018-03-11T07:30:00.000000Z", "2018-02-18T04:30:00.000000Z",
        "2018-11-04T04:30:00.000000Z"},
       "2018-11-04T04:00:00.000000Z"},
      {"America/Sao_Paulo",
       "UTC",
       "fuso-sp",
       {"2018-07-01T15:00:00.000000Z", "2018-11-04T03:30:00.000000Z", "2018-01-15T14:00:00.000000Z",
        "2018-11-04T03:30:00.000000Z", "2018-03-11T05:30:00.000000Z", "2018-02-18T01:30:00.000000Z",
        "2018-11-04T03:30:00.000000Z"},
       "2018-11-04T03:00:00.000000Z"},
      // The other way round: a UTC database read by probes on New York and São Paulo machines.
      {"UTC",
       "America/New_York",
       "fuso-utc-ny",
       {"2018-07-01T12:00:00.000000Z", "2018-11-04T01:30:00.000000Z", "2018-01-15T12:00:00.000000Z",
        "2018-11-04T01:30:00.000000Z", "2018-03-11T02:30:00.000000Z", "2018-02-17T23:30:00.000000Z",
        "2018-11-04T00:30:00.000000Z"},
       "2018-11-04T00:00:00.000000Z"},
  };
  // PGTZ of the probe's environment sets the session's zone over the database's.
  cases.push_back(cases[0]);
  cases.back().database_zone = "UTC";
  cases.back().host = "fuso-pgtz";
  for (Case c : cases) {
    set_role_zone("cobranca_fusos", c.database_zone);
    // Then from a machine in yet another zone: the same instants, so the run only upserts.
    for (const std::string& machine : {c.machine_zone, std::string("Asia/Tokyo")}) {
      FakeZabbix trapper;
      std::map<std::string, std::optional<std::string>> env = {{"TZ", machine}};
      if (c.host == "fuso-pgtz") env["PGTZ"] = "America/New_York";
      const auto result = run("cobranca_fusos", c.host, trapper, env);
      ASSERT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(result.err, "");
      // The same instants from any machine: a second run only upserts the same keys.
      for (const std::string table : {"bekClientes", "bekCobranca"}) {
        const auto rows = questdb_rows(table, c.host);
        ASSERT_EQ(rows.size(), 7u) << table << " " << c.host << " TZ=" << machine;
        for (std::size_t i = 0; i < rows.size(); ++i) {
          EXPECT_EQ(rows[i]["dataCadastro"], c.cadastro[i])
              << table << " " << i + 1 << " " << c.host << " TZ=" << machine;
        }
        const char* due = table == "bekClientes" ? "tempoVencimento" : "dataVencimento";
        EXPECT_EQ(rows[6][due], c.vencimento) << table << " " << c.host << " TZ=" << machine;
      }
    }
  }
}

TEST_F(SnapshotRows, WithoutAZoneDatabaseEveryRowIsReadInTheMachinesZoneWithOneLine) {
  create("cobranca_sem_tzdata", "UTF8", "America/New_York", kTransitions);
  // An empty TZDIR: this machine knows no zone by name, as one without tzdata.
  const TempDir empty_zones;
  const std::string tzdir = empty_zones.path().string();
  struct Case {
    std::string machine_zone, host, told_zone, first_cadastro;
  };
  const Case cases[] = {
      // An offset needs no zone database: the machine reads 12:00 as 03:00 UTC.
      {"<+09>-9", "sem-tzdata-fixo", "<+09>-9", "2018-07-01T03:00:00.000000Z"},
      // A zone name it cannot read is UTC, as for the C library.
      {"America/Sao_Paulo", "sem-tzdata-utc", "UTC", "2018-07-01T12:00:00.000000Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    FakeZabbix trapper;
    const auto result =
        run("cobranca_sem_tzdata", c.host, trapper, {{"TZ", c.machine_zone}, {"TZDIR", tzdir}});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "OK\n");
    EXPECT_EQ(result.err,
              "Aviso: o fuso horário \"America/New_York\" do PostgreSQL não é conhecido nesta "
              "máquina, que não tem a base de fusos horários: as datas de bekClientes e "
              "bekCobranca serão lidas no fuso horário desta máquina (" +
                  c.told_zone + "). Para lê-las no fuso do banco, corrija TZDIR (\"" + tzdir +
                  "\"), que deve apontar para a base de fusos horários (ex.: "
                  "/usr/share/zoneinfo).\n");
    for (const std::string table : {"bekClientes", "bekCobranca"}) {
      const auto rows = questdb_rows(table, c.host);
      ASSERT_EQ(rows.size(), 7u) << table;
      EXPECT_EQ(rows[0]["dataCadastro"], c.first_cadastro) << table;
    }
  }
}

TEST_F(SnapshotRows, ARefusalEveryRowSharesCostsOneRequestTwoAtMostAndOneLine) {
  struct Case {
    std::string host, detail;
    std::size_t requests;
  };
  const Case cases[] = {
      // QuestDB 9's words for a table missing with auto-creation off: one request.
      {"tabela-ausente",
       "\\nerror in line 1: table: bekCobranca; table does not exist, creating new tables is "
       "disabled",
       1},
      // Words not known here, at the first line again once the first row is out: two.
      {"disco-cheio", "write error: bekCobranca, errno: 28, error: disco cheio", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    ScriptedQuestDb cobranca({{400, line_refusal(1, "invalid", c.detail)}});
    RunSettings settings = fixture_settings();
    settings.zabbix_host.assign(c.host);
    settings.quest_db_ip_chat.assign("127.0.0.1");
    settings.quest_db_port_chat.assign(std::to_string(cobranca.port()));
    FakeZabbix trapper;
    ProcessOptions options;
    options.env["SONDA_ZABBIX_SERVER"] = trapper.address();
    options.env["SSL_CERT_FILE"] = questdb_server().ca;
    options.env["SONDA_TEST_ROWS_PER_REQUEST"] = "3";  // 7 rows: 3 requests, had all gone well
    const auto result = run_probe(full_form_arguments(settings), options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "OK\n");
    EXPECT_TRUE(
        result.err.starts_with("Erro: bekCobranca: 7 de 7 linhas não gravadas (0 "
                               "gravadas): o QuestDB em 127.0.0.1:" +
                               std::to_string(cobranca.port()) + " recusou as linhas (HTTP 400): "))
        << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(cobranca.seen().size(), c.requests);
    EXPECT_EQ(questdb_rows("bekClientes", c.host).size(), 7u);
  }
}

}  // namespace
}  // namespace sonda::test
