// read_billing_data against the real PostgreSQL server of the tests, loaded with
// tests/fixtures/billing_fixture.sql.
#include "discovery/billing_query.hpp"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "app/discovery_inputs.hpp"
#include "discovery/billing_statements.hpp"
#include "outside/process/runtime_limit.hpp"
#include "support/fake_server.hpp"
#include "support/servers.hpp"
#include "support/values.hpp"

namespace sonda::test {
namespace {

// The billing data as a run with the command line `settings` reads it.
BillingData read_with(const RunSettings& settings) {
  return read_billing_data(database_parameters(settings), settings.pop_id.value());
}

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string failure_text(const std::function<void()>& body) {
  try {
    body();
  } catch (const Failure& failure) {
    return std::string(failure.kind()) + ": " + failure.what();
  }
  return "(no failure)";
}

TEST(BillingQuery, FixtureRowsArriveInTheirKinds) {
  const BillingData data = read_with(fixture_settings());
  ASSERT_EQ(data.clientes_data.size(), 7u);

  // Customer 3 has two rows (one per contract status); which comes first is the server's choice.
  std::vector<CustomerRow> rows = data.clientes_data;
  std::sort(rows.begin() + 2, rows.begin() + 4, [](const CustomerRow& a, const CustomerRow& b) {
    return std::get<std::int64_t>(a.status_contrato) < std::get<std::int64_t>(b.status_contrato);
  });

  const CustomerRow& mercado = rows[0];
  EXPECT_EQ(mercado.id, integer(1));
  EXPECT_EQ(mercado.razao_social, text("Mercado Estação"));
  EXPECT_EQ(mercado.cpf_cnpj, text("00000000000"));
  EXPECT_EQ(mercado.titulos_em_atraso, integer(3));
  EXPECT_EQ(mercado.valor_divida, FieldValue(157.5));
  EXPECT_EQ(mercado.contato, text("0000-0000 | 1111-1111"));
  EXPECT_EQ(mercado.tempo_vencimento, FieldValue(at(2020, 1, 10)));
  EXPECT_EQ(mercado.nome_fantasia, text("Mercadinho"));
  EXPECT_EQ(mercado.data_cadastro, FieldValue(at(2023, 5, 17, 14, 3, 27, 123456)));
  EXPECT_EQ(mercado.status_contrato, integer(1));

  const CustomerRow& loja = rows[1];
  EXPECT_EQ(loja.id, integer(2));
  EXPECT_EQ(loja.cpf_cnpj, FieldValue(Absent{}));
  EXPECT_EQ(loja.titulos_em_atraso, integer(0));
  EXPECT_EQ(loja.valor_divida, FieldValue(0.0));
  EXPECT_EQ(loja.contato, FieldValue(Absent{}));
  EXPECT_EQ(loja.tempo_vencimento, FieldValue(Absent{}));
  EXPECT_EQ(loja.nome_fantasia, FieldValue(Absent{}));
  EXPECT_EQ(loja.data_cadastro, FieldValue(at(2022, 12, 31, 23, 59, 59)));

  for (int i : {2, 3}) {
    EXPECT_EQ(rows[i].id, integer(3));
    EXPECT_EQ(rows[i].razao_social, text("O'Brien \"Cia\"\tLtda\nFilial \\ 2"));
    EXPECT_EQ(rows[i].contato, text("😀 9999-0000"));
    EXPECT_EQ(rows[i].nome_fantasia, text("𝄞 Música"));
    EXPECT_EQ(rows[i].titulos_em_atraso, integer(1));
    EXPECT_EQ(rows[i].valor_divida, FieldValue(10.0));
    EXPECT_EQ(rows[i].tempo_vencimento, FieldValue(at(2021, 6, 1)));
  }
  EXPECT_EQ(rows[2].status_contrato, integer(1));
  EXPECT_EQ(rows[2].data_cadastro, FieldValue(at(2021, 3, 4, 5, 6, 7)));
  EXPECT_EQ(rows[3].status_contrato, integer(2));
  EXPECT_EQ(rows[3].data_cadastro, FieldValue(at(2021, 8, 9, 10, 11, 12)));

  const CustomerRow& sem_status = rows[4];
  EXPECT_EQ(sem_status.id, integer(5));
  EXPECT_EQ(sem_status.data_cadastro, FieldValue(Absent{}));
  EXPECT_EQ(sem_status.status_contrato, FieldValue(Absent{}));

  const CustomerRow& joao = rows[5];
  EXPECT_EQ(joao.id, integer(100));
  EXPECT_EQ(joao.razao_social, text("João Conceição"));
  EXPECT_EQ(joao.titulos_em_atraso, integer(1));
  EXPECT_EQ(joao.valor_divida, FieldValue(0.0));

  // The contract whose customer is gone comes last, with an absent id; the overdue bill of
  // that customer id belongs to nobody.
  const CustomerRow& orphan = rows[6];
  EXPECT_EQ(orphan.id, FieldValue(Absent{}));
  EXPECT_EQ(orphan.razao_social, FieldValue(Absent{}));
  EXPECT_EQ(orphan.titulos_em_atraso, integer(0));
  EXPECT_EQ(orphan.valor_divida, FieldValue(0.0));
  EXPECT_EQ(orphan.status_contrato, integer(3));
}

TEST(BillingQuery, PopIdIsASubstringPatternOfThePointOfPresence) {
  // Expected (count, sum) of the bills within their due date, from the fixture's comments.
  const std::map<std::string, std::pair<std::int64_t, FieldValue>> expected = {
      {"1", {6, 165.0}},  // pops 1 (two contracts), 10, 12, 21, 100
      {"", {7, 170.0}},   // every contract with a point of presence
      {"2", {3, 50.0}},   // pops 2, 12, 21: one bill through two contracts counts twice
      {"_0", {2, 80.0}},  // the wildcard _ matches any character: pops 10 and 100
      {"%", {7, 170.0}},
      {"999", {0, Absent{}}},
      {"1' OR '1'='1", {0, Absent{}}},
      {"1%' OR true; DROP TABLE financeiro_titulo; --", {0, Absent{}}},
  };
  for (const auto& [pop_id, totals] : expected) {
    const BillingData data = read_with(fixture_settings(pg_server().database, pop_id));
    ASSERT_EQ(data.titulos_valor_em_aberto.size(), 1u);
    const OpenBillsRow& row = data.titulos_valor_em_aberto.front();
    EXPECT_EQ(row.titulos_aberto, integer(totals.first)) << pop_id;
    EXPECT_EQ(row.valor_aberto, totals.second) << pop_id;
  }
  // Nothing of a pop_id ran as a statement.
  EXPECT_EQ(PgSession().value("SELECT count(*) FROM financeiro_titulo"), "15");
}

TEST(BillingQuery, DatabaseWithoutContracts) {
  create_database("cobranca_vazia", {"billing_schema.sql"});
  const BillingData data = read_with(fixture_settings("cobranca_vazia"));
  EXPECT_TRUE(data.clientes_data.empty());
  ASSERT_EQ(data.titulos_valor_em_aberto.size(), 1u);
  EXPECT_EQ(data.titulos_valor_em_aberto[0].titulos_aberto, integer(0));
  EXPECT_EQ(data.titulos_valor_em_aberto[0].valor_aberto, FieldValue(Absent{}));
}

TEST(BillingQuery, ValuesWithoutAKindAreRefusedNamingTheColumn) {
  create_database("cobranca_tipos", {"billing_schema.sql", "billing_fixture.sql"});
  PgSession session("cobranca_tipos");
  session.exec("ALTER TABLE admcore_clientecontratostatus ALTER COLUMN status TYPE numeric");
  EXPECT_EQ(failure_text([] { read_with(fixture_settings("cobranca_tipos")); }),
            "DataError: a coluna status é do tipo numeric, que a sonda não sabe ler");

  session.exec("ALTER TABLE admcore_clientecontratostatus ALTER COLUMN status TYPE real");
  session.exec("UPDATE admcore_clientecontratostatus SET status = 0.1 WHERE id = 1");
  const BillingData data = read_with(fixture_settings("cobranca_tipos"));
  EXPECT_EQ(data.clientes_data[0].status_contrato, FieldValue(0.1));

  session.exec(
      "UPDATE admcore_clientecontrato SET data_cadastro = 'infinity' WHERE cliente_id = 2");
  EXPECT_EQ(failure_text([] { read_with(fixture_settings("cobranca_tipos")); }),
            "DataError: a coluna datacadastro traz um timestamp infinito, sem data representável");
}

TEST(BillingQuery, RejectedStatementNamesTheDatabaseError) {
  create_database("cobranca_sem_tabelas", {});
  EXPECT_EQ(failure_text([] { read_with(fixture_settings("cobranca_sem_tabelas")); }),
            "DatabaseError: o PostgreSQL recusou a consulta de clientes (SQLSTATE 42P01): "
            "relation \"admcore_clientecontrato\" does not exist (confira se db_name é o banco "
            "do sistema de gestão)");
}

// Rows are read as they arrive, one at a time; a statement that fails after some rows is a
// failure of the statement, never a shorter result.
TEST(BillingQuery, RowsArriveOneAtATimeAndAFailureAfterSomeFailsTheStatement) {
  PgConnection connection(database_parameters(fixture_settings()));
  std::vector<int> sizes;
  connection.query_rows("SELECT g::int8 FROM generate_series(1, 3) g", "a consulta",
                        [&](const PgResult& rows) { sizes.push_back(rows.rows()); });
  EXPECT_EQ(sizes, (std::vector<int>{1, 1, 1, 0}));

  std::vector<FieldValue> values;
  EXPECT_EQ(failure_text([&] {
              connection.query_rows("SELECT (10 / (3 - g))::int8 FROM generate_series(1, 5) g",
                                    "a consulta", [&](const PgResult& rows) {
                                      if (rows.rows() == 1) values.push_back(rows.value(0, 0));
                                    });
            }),
            "DatabaseError: o PostgreSQL recusou a consulta (SQLSTATE 22012): division by zero");
  EXPECT_EQ(values, (std::vector<FieldValue>{integer(5), integer(10)}));
}

TEST(BillingQuery, ConnectionFailuresNameTheProblemButNeverThePassword) {
  RunSettings wrong_password = fixture_settings();
  wrong_password.db_password.assign("segredo-errado-123");
  const std::string password_failure = failure_text([&] { read_with(wrong_password); });
  EXPECT_NE(password_failure.find("DatabaseError: não foi possível conectar ao PostgreSQL em "),
            std::string::npos);
  EXPECT_NE(password_failure.find("password authentication failed for user \"sonda\""),
            std::string::npos)
      << password_failure;
  EXPECT_TRUE(password_failure.ends_with("(confira db_user e db_password)")) << password_failure;
  EXPECT_EQ(password_failure.find("segredo-errado-123"), std::string::npos);

  RunSettings unknown_database = fixture_settings("nao_existe");
  EXPECT_NE(failure_text([&] {
              read_with(unknown_database);
            }).find("database \"nao_existe\" does not exist"),
            std::string::npos);

  RunSettings closed = fixture_settings();
  closed.db_port.assign(std::to_string(closed_port()));
  const std::string refused = failure_text([&] { read_with(closed); });
  EXPECT_NE(refused.find("Connection refused"), std::string::npos) << refused;
  EXPECT_TRUE(refused.ends_with(
      "(confira db_ip e db_port, e se o PostgreSQL aceita conexões TCP desta máquina)"));
  EXPECT_EQ(refused.find(pg_server().password), std::string::npos);

  RunSettings bad_port = fixture_settings();
  bad_port.db_port.assign("porta");
  EXPECT_NE(failure_text([&] { read_with(bad_port); }).find("DatabaseError: "), std::string::npos);

  RunSettings bad_pop = fixture_settings(pg_server().database, "\xff\xfe");
  EXPECT_NE(failure_text([&] { read_with(bad_pop); }).find("invalid multibyte"), std::string::npos);
}

// The entries that one backend of the probe left in the server log: statements in order.
std::vector<std::string> logged_statements_of_run(const std::string& marker) {
  std::ifstream log(pg_server().log);
  std::vector<std::pair<std::string, std::string>> entries;  // (pid, text)
  std::string line;
  // Other tests share the server: a tab-indented line belongs to the entry just above it, which
  // may be another program's.
  bool in_probe_entry = false;
  while (std::getline(log, line)) {
    const auto tag = line.find("] sonda-cobranca LOG:  ");
    if (line.starts_with('\t')) {
      if (in_probe_entry) entries.back().second += "\n" + line.substr(1);
    } else if (tag != std::string::npos) {
      const auto open = line.rfind('[', tag);
      entries.emplace_back(line.substr(open + 1, tag - open - 1),
                           line.substr(tag + std::string("] sonda-cobranca LOG:  ").size()));
      in_probe_entry = true;
    } else {
      in_probe_entry = false;
    }
  }
  std::string pid;
  for (const auto& [entry_pid, text] : entries) {
    if (text.find(marker) != std::string::npos) pid = entry_pid;
  }
  std::vector<std::string> statements;
  for (const auto& [entry_pid, text] : entries) {
    if (entry_pid == pid) statements.push_back(text);
  }
  return statements;
}

TEST(BillingQuery, StatementsReachTheServerByteForByteInOneUncommittedTransaction) {
  const std::string pop_id = "4242'marcador";
  read_with(fixture_settings(pg_server().database, pop_id));
  const auto statements = logged_statements_of_run("4242''marcador");
  ASSERT_EQ(statements.size(), 3u);
  EXPECT_EQ(statements[0], "statement: BEGIN");
  EXPECT_EQ(statements[1], "execute <unnamed>: " + std::string(kCustomerStatement));
  EXPECT_EQ(statements[2], "execute <unnamed>: " + open_bills_statement("4242''marcador"));
}

// Other tests run the probe against other databases of the same server at the same time, so
// the probe's backends are looked for in this test's database only.
constexpr const char* kProbeBackendsHere =
    "FROM pg_stat_activity WHERE application_name = 'sonda-cobranca' "
    "AND datname = 'cobranca_travada'";

// The probe's own backend as pg_stat_activity shows it, once it waits on a lock.
std::optional<std::string> blocked_probe_statement() {
  PgSession watcher;
  for (int i = 0; i < 100; ++i) {
    const auto rows = watcher.exec(std::string("SELECT query ") + kProbeBackendsHere +
                                   " AND wait_event_type = 'Lock'");
    if (!rows.empty()) return rows[0][0];
    std::this_thread::sleep_for(20ms);
  }
  return std::nullopt;
}

int probe_backends() {
  return std::stoi(*PgSession().value(std::string("SELECT count(*) ") + kProbeBackendsHere));
}

TEST(BillingQuery, StatementBlockedOnALockEndsAtTheLimitAndIsCancelled) {
  create_database("cobranca_travada", {"billing_schema.sql", "billing_fixture.sql"});
  for (const auto& [table, statement] :
       {std::pair<std::string, std::string>{"admcore_pessoa", std::string(kCustomerStatement)},
        {"financeiro_cobranca", open_bills_statement("1")}}) {
    PgSession holder("cobranca_travada");
    holder.exec("BEGIN; LOCK TABLE " + table + " IN ACCESS EXCLUSIVE MODE");

    std::optional<std::string> seen;
    std::thread watcher([&] { seen = blocked_probe_statement(); });
    const auto start = Clock::now();
    EXPECT_THROW(
        {
          const auto limit = runtime_limiter(2);
          read_with(fixture_settings("cobranca_travada"));
        },
        TimeoutException);
    const auto elapsed = Clock::now() - start;
    watcher.join();
    EXPECT_GE(elapsed, 2s);
    EXPECT_LT(elapsed, 3s);
    EXPECT_EQ(seen, statement) << table;

    // The lock is still held: only the cancel request can have freed the probe's backend.
    for (int i = 0; i < 50 && probe_backends() > 0; ++i) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(probe_backends(), 0) << table;
    holder.exec("ROLLBACK");
  }
}

TEST(BillingQuery, ServerThatNeverAnswersEndsAtTheLimit) {
  FakeServer silent(hold_silently);
  RunSettings settings = fixture_settings();
  settings.db_port.assign(std::to_string(silent.port()));
  const auto start = Clock::now();
  EXPECT_THROW(
      {
        const auto limit = runtime_limiter(1);
        read_with(settings);
      },
      TimeoutException);
  EXPECT_LT(Clock::now() - start, 1500ms);
  EXPECT_EQ(silent.connections(), 1);
}

}  // namespace
}  // namespace sonda::test
