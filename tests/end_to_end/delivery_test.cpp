// The discovery run in normal mode, through the real binary: the real PostgreSQL and QuestDB,
// and a fake Zabbix trapper that records every value and answers as each test needs.
#include <gtest/gtest.h>

#include "support/fake_zabbix.hpp"
#include "support/process.hpp"
#include "support/questdb.hpp"
#include "support/servers.hpp"

namespace sonda::test {
namespace {

using nlohmann::json;

const std::string kFixtureDocument =
    R"({"data": [)"
    R"({"{#CLIENTE_ID}": 1, "{#RAZAOSOCIAL}": "Mercado Esta\u00e7\u00e3o", "{#CPF_CNPJ}": )"
    R"("00000000000", "{#VALOR_DIVIDA}": 157.5, "{#TITULOS_EM_ATRASO}": 3, "{#CONTATO}": )"
    R"("0000-0000 | 1111-1111"}, )"
    R"({"{#CLIENTE_ID}": 2, "{#RAZAOSOCIAL}": "Loja Azul", "{#CPF_CNPJ}": null, )"
    R"("{#VALOR_DIVIDA}": 0.0, "{#TITULOS_EM_ATRASO}": 0, "{#CONTATO}": "N/A"}, )"
    R"({"{#CLIENTE_ID}": 3, "{#RAZAOSOCIAL}": "O'Brien \"Cia\"\tLtda\nFilial \\ 2", )"
    R"("{#CPF_CNPJ}": "11.222.333/0001-44", "{#VALOR_DIVIDA}": 10.0, "{#TITULOS_EM_ATRASO}": 1, )"
    R"("{#CONTATO}": "\ud83d\ude00 9999-0000"}, )"
    R"({"{#CLIENTE_ID}": 3, "{#RAZAOSOCIAL}": "O'Brien \"Cia\"\tLtda\nFilial \\ 2", )"
    R"("{#CPF_CNPJ}": "11.222.333/0001-44", "{#VALOR_DIVIDA}": 10.0, "{#TITULOS_EM_ATRASO}": 1, )"
    R"("{#CONTATO}": "\ud83d\ude00 9999-0000"}, )"
    R"({"{#CLIENTE_ID}": 5, "{#RAZAOSOCIAL}": "Sem Status", "{#CPF_CNPJ}": "55555555555", )"
    R"("{#VALOR_DIVIDA}": 0.0, "{#TITULOS_EM_ATRASO}": 0, "{#CONTATO}": "N/A"}, )"
    R"({"{#CLIENTE_ID}": 100, "{#RAZAOSOCIAL}": "Jo\u00e3o Concei\u00e7\u00e3o", "{#CPF_CNPJ}": )"
    R"("123.456.789-00", "{#VALOR_DIVIDA}": 0.0, "{#TITULOS_EM_ATRASO}": 1, "{#CONTATO}": "N/A"}, )"
    R"({"{#CLIENTE_ID}": null, "{#RAZAOSOCIAL}": null, "{#CPF_CNPJ}": null, )"
    R"("{#VALOR_DIVIDA}": 0.0, "{#TITULOS_EM_ATRASO}": 0, "{#CONTATO}": "N/A"}]})";

// (key, value) pairs in the order a run over the fixture sends them.
std::vector<std::pair<std::string, json>> fixture_sends() {
  return {
      {"titulos_totais_em_atraso", "6"},
      {"valor_total_divida", "177.5"},
      {"titulos_totais_em_aberto", "6"},
      {"valor_total_em_aberto", "165.0"},
      {"discovery_clientes", kFixtureDocument},
      {"valor_divida[1]", "157.5"},
      {"titulos_em_atraso[1]", "3"},
      {"valor_divida[2]", "0.0"},
      {"titulos_em_atraso[2]", "0"},
      {"valor_divida[3]", "10.0"},
      {"titulos_em_atraso[3]", "1"},
      {"valor_divida[3]", "10.0"},
      {"titulos_em_atraso[3]", "1"},
      {"valor_divida[5]", "0.0"},
      {"titulos_em_atraso[5]", "0"},
      {"valor_divida[100]", "0.0"},
      {"titulos_em_atraso[100]", "1"},
      {"valor_divida[None]", "0.0"},
      {"titulos_em_atraso[None]", "0"},
  };
}

class Delivery : public ::testing::Test {
 protected:
  void SetUp() override { truncate_questdb_tables(); }

  ProcessResult run(const FakeZabbix& trapper, const std::string& host,
                    const std::string& database = pg_server().database,
                    const std::string& limit = "") {
    RunSettings settings = fixture_settings(database);
    settings.zabbix_host.assign(host);
    ProcessOptions options;
    options.env["SONDA_ZABBIX_SERVER"] = trapper.address();
    options.env["SSL_CERT_FILE"] = questdb_server().ca;
    if (!limit.empty()) options.env["SONDA_TEST_RUNTIME_LIMIT"] = limit;
    return run_probe(full_form_arguments(settings), options);
  }

  static void expect_sends(const FakeZabbix& trapper, const std::string& host,
                           const std::vector<std::pair<std::string, json>>& expected) {
    const auto items = trapper.items();
    ASSERT_EQ(items.size(), expected.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i]["host"], host) << i;
      EXPECT_EQ(items[i]["key"], expected[i].first) << i;
      EXPECT_EQ(items[i]["value"], expected[i].second) << i;
    }
  }
};

TEST_F(Delivery, FixtureRunSendsEveryValueInOrderThenWritesBothTables) {
  FakeZabbix trapper;
  const auto result = run(trapper, "entrega");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "OK\n");
  EXPECT_EQ(result.err, "");
  expect_sends(trapper, "entrega", fixture_sends());
  EXPECT_EQ(trapper.connections(), 19);  // 5 + 2 per customer row, one connection each
  EXPECT_EQ(questdb_rows("bekClientes", "entrega").size(), 7u);
  EXPECT_EQ(questdb_rows("bekCobranca", "entrega").size(), 7u);
}

TEST_F(Delivery, NoCustomerRows) {
  create_database("cobranca_entrega_vazia", {"billing_schema.sql"});
  FakeZabbix trapper;
  const auto result = run(trapper, "vazia", "cobranca_entrega_vazia");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "OK\n");
  expect_sends(trapper, "vazia",
               {{"titulos_totais_em_atraso", "0"},
                {"valor_total_divida", "0"},
                {"titulos_totais_em_aberto", "0"},
                {"valor_total_em_aberto", nullptr},
                {"discovery_clientes", R"({"data": []})"}});
}

TEST_F(Delivery, OnlyTheExactTextDebugIsTheDebugSwitch) {
  for (const std::string host : {"Debug", " debug", "debug "}) {
    FakeZabbix trapper;
    const auto result = run(trapper, host);
    EXPECT_EQ(result.out, "OK\n") << host;
    expect_sends(trapper, host, fixture_sends());
  }
}

TEST_F(Delivery, FailedSendEndsTheRunWhereItIs) {
  for (const ZabbixAnswer answer :
       {ZabbixAnswer::drop, ZabbixAnswer::garbage, ZabbixAnswer::failed}) {
    FakeZabbix trapper(
        {ZabbixAnswer::success, ZabbixAnswer::success, ZabbixAnswer::success, answer});
    const auto result = run(trapper, "falha");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(
        result.err.starts_with("sonda-cobranca: erro inesperado: ZabbixError: servidor "
                               "Zabbix em " +
                               trapper.address() + ": "))
        << result.err;
    EXPECT_EQ(trapper.items().size(), 4u);  // the fifth value and later were never sent
  }
  EXPECT_EQ(questdb_rows("bekClientes", "falha").size(), 0u);
  EXPECT_EQ(questdb_rows("bekCobranca", "falha").size(), 0u);
}

TEST_F(Delivery, AnswerThatNeverComesEndsAtTheLimitWithTheTimeoutText) {
  FakeZabbix trapper({ZabbixAnswer::success, ZabbixAnswer::success, ZabbixAnswer::never});
  const auto result = run(trapper, "mudo", pg_server().database, "2");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "Tempo limite de execução excedido: a execução passou de 2 segundos e foi "
            "interrompida.\n");
  EXPECT_EQ(result.err, "");
  EXPECT_LT(result.elapsed, std::chrono::milliseconds(3000));
  EXPECT_EQ(trapper.items().size(), 3u);
}

}  // namespace
}  // namespace sonda::test
