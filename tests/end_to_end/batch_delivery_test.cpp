// Batch mode and the diagnostics about refused values, through the real binary: the real
// PostgreSQL and QuestDB, and a fake Zabbix trapper that records each request and answers as
// each test needs.
#include <gtest/gtest.h>

#include "support/fake_zabbix.hpp"
#include "support/process.hpp"
#include "support/questdb.hpp"
#include "support/servers.hpp"

namespace sonda::test {
namespace {

// The keys a run over the fixture sends, in order.
const std::vector<std::string> kFixtureKeys = {
    "titulos_totais_em_atraso", "valor_total_divida",     "titulos_totais_em_aberto",
    "valor_total_em_aberto",    "discovery_clientes",     "valor_divida[1]",
    "titulos_em_atraso[1]",     "valor_divida[2]",        "titulos_em_atraso[2]",
    "valor_divida[3]",          "titulos_em_atraso[3]",   "valor_divida[3]",
    "titulos_em_atraso[3]",     "valor_divida[5]",        "titulos_em_atraso[5]",
    "valor_divida[100]",        "titulos_em_atraso[100]", "valor_divida[None]",
    "titulos_em_atraso[None]"};

class BatchDelivery : public ::testing::Test {
 protected:
  void SetUp() override { truncate_questdb_tables(); }

  static ProcessResult run(const FakeZabbix& trapper, const std::string& host,
                           const std::optional<std::string>& batch) {
    RunSettings settings = fixture_settings();
    settings.zabbix_host.assign(host);
    ProcessOptions options;
    options.env["SONDA_ZABBIX_SERVER"] = trapper.address();
    options.env["SSL_CERT_FILE"] = questdb_server().ca;
    options.env["SONDA_ZABBIX_BATCH"] = batch;
    return run_probe(full_form_arguments(settings), options);
  }

  static std::vector<std::string> keys(const FakeZabbix& trapper) {
    std::vector<std::string> keys;
    for (const auto& item : trapper.items()) keys.push_back(item["key"]);
    return keys;
  }
};

TEST_F(BatchDelivery, UpToNValuesPerRequestInTheUsualOrderWithTheDocumentAlone) {
  FakeZabbix trapper;
  const auto result = run(trapper, "lote", "3");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "OK\n");
  EXPECT_EQ(result.err, "");
  // Totals 3 + 1, the document, then the 14 per-customer values 3 at a time.
  EXPECT_EQ(trapper.request_sizes(), (std::vector<std::size_t>{3, 1, 1, 3, 3, 3, 3, 2}));
  EXPECT_EQ(keys(trapper), kFixtureKeys);
  EXPECT_EQ(trapper.items()[5]["value"], "157.5");
  EXPECT_EQ(trapper.items()[18]["value"], "0");
  EXPECT_EQ(questdb_rows("bekClientes", "lote").size(), 7u);

  FakeZabbix large;
  ASSERT_EQ(run(large, "lote", "10000").status, 0);
  EXPECT_EQ(large.request_sizes(), (std::vector<std::size_t>{4, 1, 14}));
  EXPECT_EQ(keys(large), kFixtureKeys);
}

TEST_F(BatchDelivery, FailedRequestEndsTheRunAndEarlierRequestsStaySent) {
  FakeZabbix trapper(
      {ZabbixAnswer::success, ZabbixAnswer::success, ZabbixAnswer::success, ZabbixAnswer::failed});
  const auto result = run(trapper, "lote-falha", "5");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(
      result.err.find("ZabbixError: servidor Zabbix em " + trapper.address() +
                      ": o envio de 5 valores (titulos_em_atraso[3] a titulos_em_atraso[5]) foi "
                      "recusado (failed): host is not allowed"),
      std::string::npos)
      << result.err;
  EXPECT_EQ(trapper.request_sizes(), (std::vector<std::size_t>{4, 1, 5, 5}));
  EXPECT_EQ(questdb_rows("bekClientes", "lote-falha").size(), 0u);
}

TEST_F(BatchDelivery, MalformedSettingStopsTheRunBeforeAnythingIsSent) {
  FakeZabbix trapper;
  const auto result = run(trapper, "lote", "mil");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "sonda-cobranca: erro inesperado: ConfigError: SONDA_ZABBIX_BATCH deve ser um número "
            "inteiro de 1 a 10000 (valores por envio ao Zabbix), não \"mil\"\n");
  EXPECT_TRUE(trapper.frames().empty());
}

TEST_F(BatchDelivery, RefusedFixedValuesAreToldOnStandardErrorAndTheRunGoesOn) {
  // A server that knows neither the host nor its items: every value refused, one per request.
  FakeZabbix unknown(std::vector<ZabbixAnswer>(19, ZabbixAnswer::refused));
  const auto result = run(unknown, "desconhecido", std::nullopt);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "OK\n");
  // The per-customer values are refused too, but that is every first run: no line of their own.
  EXPECT_EQ(
      result.err,
      "Aviso: o servidor Zabbix recusou 5 valores entre titulos_totais_em_atraso, "
      "valor_total_divida, titulos_totais_em_aberto, valor_total_em_aberto, discovery_clientes "
      "do host \"desconhecido\". Causas comuns: o host não existe no Zabbix com esse nome exato; "
      "o item não existe ou não é do tipo trapper; o endereço desta máquina não está em "
      "\"Allowed hosts\" do item; o host exige criptografia.\n");
  EXPECT_EQ(unknown.items().size(), 19u);  // nothing held back
  EXPECT_EQ(questdb_rows("bekCobranca", "desconhecido").size(), 7u);

  // In batch mode only the refused document is named.
  FakeZabbix no_rule({ZabbixAnswer::success, ZabbixAnswer::refused});
  const auto batch = run(no_rule, "sem-regra", "1000");
  EXPECT_EQ(batch.status, 0);
  EXPECT_EQ(batch.err.find("Aviso: o servidor Zabbix recusou 1 valor entre discovery_clientes do "
                           "host \"sem-regra\". Causas comuns:"),
            0u)
      << batch.err;
  EXPECT_EQ(std::count(batch.err.begin(), batch.err.end(), '\n'), 1);
}

TEST_F(BatchDelivery, AnswersThatCountTooFewOrTooManyValuesAreToldAsTheyAre) {
  // "processed: 0; failed: 0; total: 0" to the 4 totals, and 2^64-1 failed for the document:
  // 4 values not confirmed and 1 refused, never a sum that wrapped.
  FakeZabbix odd({ZabbixAnswer::uncounted, ZabbixAnswer::overcounted, ZabbixAnswer::uncounted});
  const auto result = run(odd, "contagens", "100");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "OK\n");
  EXPECT_EQ(result.err,
            "Aviso: o servidor Zabbix recusou 1 valor e não confirmou 4 valores entre "
            "titulos_totais_em_atraso, valor_total_divida, titulos_totais_em_aberto, "
            "valor_total_em_aberto, discovery_clientes do host \"contagens\". Causas comuns: o "
            "host não existe no Zabbix com esse nome exato; o item não existe ou não é do tipo "
            "trapper; o endereço desta máquina não está em \"Allowed hosts\" do item; o host "
            "exige criptografia. A resposta contou menos valores do que os enviados: confira se o "
            "endereço é o de um servidor ou proxy Zabbix.\n");
  EXPECT_EQ(odd.request_sizes(), (std::vector<std::size_t>{4, 1, 14}));
}

}  // namespace
}  // namespace sonda::test
