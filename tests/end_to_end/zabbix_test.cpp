// A whole discovery run against the real servers: PostgreSQL, QuestDB and each Zabbix server
// (6.0 and 7.0 LTS) with the host of tests/fixtures/zabbix_host.sql.
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <thread>

#include <gtest/gtest.h>

#include "support/process.hpp"
#include "support/questdb.hpp"
#include "support/servers.hpp"
#include "support/zabbix_api.hpp"
#include "support/zabbix_history.hpp"

namespace sonda::test {
namespace {

using namespace std::chrono_literals;

class ZabbixEndToEnd : public ::testing::TestWithParam<std::string> {
 protected:
  const ZabbixServer& server() const { return zabbix_server(GetParam()); }
};

ProcessResult discovery_run(const ZabbixServer& server) {
  RunSettings settings = fixture_settings();
  settings.zabbix_host.assign(server.host);
  ProcessOptions options;
  options.env["SONDA_ZABBIX_SERVER"] = server.address;
  options.env["SSL_CERT_FILE"] = questdb_server().ca;
  return run_probe(full_form_arguments(settings), options);
}

std::vector<std::string> discovered_keys(PgSession& zabbix, const ZabbixServer& server) {
  std::vector<std::string> keys;
  for (const auto& row : zabbix.exec(
           "SELECT i.key_ FROM items i JOIN hosts s ON s.hostid = i.hostid WHERE s.host = '" +
           server.host + "' AND i.flags = 4 ORDER BY i.key_")) {
    keys.push_back(*row[0]);
  }
  return keys;
}

TEST_P(ZabbixEndToEnd, TotalsLandDiscoveryCreatesItemsAndTheNextRunFillsThem) {
  truncate_questdb_tables();
  PgSession zabbix(server().database);
  const std::int64_t start = std::time(nullptr);

  const auto first = discovery_run(server());
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "OK\n");
  // Every per-customer value is refused (their items are not discovered yet): that is what a
  // first run is, and an external check must answer just "OK".
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(stored_value(zabbix, server().host, "titulos_totais_em_atraso", start), "6");
  EXPECT_EQ(stored_value(zabbix, server().host, "valor_total_divida", start), "177.5");
  EXPECT_EQ(stored_value(zabbix, server().host, "titulos_totais_em_aberto", start), "6");
  EXPECT_EQ(stored_value(zabbix, server().host, "valor_total_em_aberto", start), "165");

  // Low-level discovery makes one item pair per customer id.
  const std::vector<std::string> expected = {"titulos_em_atraso[100]", "titulos_em_atraso[1]",
                                             "titulos_em_atraso[2]",   "titulos_em_atraso[3]",
                                             "titulos_em_atraso[5]",   "valor_divida[100]",
                                             "valor_divida[1]",        "valor_divida[2]",
                                             "valor_divida[3]",        "valor_divida[5]"};
  for (int i = 0; i < 100 && discovered_keys(zabbix, server()) != expected; ++i) {
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_EQ(discovered_keys(zabbix, server()), expected);
  EXPECT_EQ(questdb_rows("bekClientes", server().host).size(), 7u);
  EXPECT_EQ(questdb_rows("bekCobranca", server().host).size(), 7u);

  // Once the server's configuration knows the new items, a run fills them.
  reload_zabbix_configuration(server(), server().host,
                              "titulos_em_atraso[5]");  // not checked below
  const std::int64_t second_start = std::time(nullptr);
  const auto second = discovery_run(server());
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.out, "OK\n");
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(stored_value(zabbix, server().host, "valor_divida[1]", second_start), "157.5");
  EXPECT_EQ(stored_value(zabbix, server().host, "titulos_em_atraso[1]", second_start), "3");
  EXPECT_EQ(stored_value(zabbix, server().host, "valor_divida[3]", second_start), "10");
  EXPECT_EQ(stored_value(zabbix, server().host, "titulos_em_atraso[100]", second_start), "1");
  EXPECT_EQ(stored_value(zabbix, server().host, "valor_divida[2]", second_start), "0");
}

// A host of its own, so that its discovered items cannot meet those of the test above, under a
// new name each time: the server's configuration cache may still hold an earlier one's items,
// which would take (and drop) the values meant for the new host.
std::string create_nan_host(ZabbixApi& api, const std::string& name) {
  for (const auto& host : api.call(
           "host.get",
           {{"output", {"hostid"}}, {"search", {{"host", "sonda-nan-"}}}, {"startSearch", true}})) {
    api.call("host.delete", nlohmann::json::array({host.at("hostid")}));
  }
  const std::string host_id =
      api.call("host.create", {{"host", name}, {"groups", {{{"groupid", "2"}}}}})
          .at("hostids")
          .at(0)
          .get<std::string>();
  api.call("item.create", {{"hostid", host_id},
                           {"name", "Títulos totais em atraso"},
                           {"key_", "titulos_totais_em_atraso"},
                           {"type", 2},
                           {"value_type", 3}});
  const std::string rule_id = api.call("discoveryrule.create", {{"hostid", host_id},
                                                                {"name", "Clientes"},
                                                                {"key_", "discovery_clientes"},
                                                                {"type", 2}})
                                  .at("itemids")
                                  .at(0)
                                  .get<std::string>();
  api.call("itemprototype.create", {{"hostid", host_id},
                                    {"ruleid", rule_id},
                                    {"name", "Dívida de {#RAZAOSOCIAL}"},
                                    {"key_", "valor_divida[{#CLIENTE_ID}]"},
                                    {"type", 2},
                                    {"value_type", 0}});
  return host_id;
}

// numeric accepts NaN: one such bill must not cost the discovery of every customer.
TEST_P(ZabbixEndToEnd, ABillOfNaNLeavesTheDiscoveryRuleSupportedAndEveryCustomerDiscovered) {
  create_database("cobranca_nan", {"billing_schema.sql", "billing_fixture.sql"});
  PgSession("cobranca_nan")
      .exec("UPDATE financeiro_titulo SET valor = 'NaN' WHERE cliente_id = 1 AND valor = 100.25");
  const std::string host =
      "sonda-nan-" + std::to_string(std::time(nullptr)) + "-" + std::to_string(::getpid());
  ZabbixApi api(server());
  const std::string host_id = create_nan_host(api, host);
  // The rule is created after the item: its taking an (empty) document is the sign.
  reload_zabbix_configuration(server(), host, "discovery_clientes", R"({"data":[]})");

  RunSettings settings = fixture_settings("cobranca_nan");
  settings.zabbix_host.assign(host);
  ProcessOptions options;
  options.env["SONDA_ZABBIX_SERVER"] = server().address;
  options.env["SSL_CERT_FILE"] = questdb_server().ca;
  const auto run = run_probe(full_form_arguments(settings), options);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "OK\n");

  const std::vector<std::string> expected = {"valor_divida[100]", "valor_divida[1]",
                                             "valor_divida[2]", "valor_divida[3]",
                                             "valor_divida[5]"};
  std::vector<std::string> keys;
  for (int i = 0; i < 300 && keys != expected; ++i) {  // low-level discovery takes its time
    std::this_thread::sleep_for(200ms);
    keys.clear();
    for (const auto& item : api.call("item.get", {{"hostids", {host_id}},
                                                  {"output", {"key_"}},
                                                  {"filter", {{"flags", 4}}},
                                                  {"sortfield", "key_"}})) {
      keys.push_back(item.at("key_").get<std::string>());
    }
  }
  EXPECT_EQ(keys, expected);
  const auto rule =
      api.call("discoveryrule.get", {{"hostids", {host_id}}, {"output", {"state", "error"}}});
  ASSERT_EQ(rule.size(), 1u);
  EXPECT_EQ(rule[0].at("state"), "0") << rule[0].at("error");
  // Two rows of one customer still clash, as they always have; the document itself is fine.
  EXPECT_EQ(rule[0].at("error").get<std::string>().find("JSON"), std::string::npos)
      << rule[0].at("error");
}

INSTANTIATE_TEST_SUITE_P(Zabbix, ZabbixEndToEnd, ::testing::ValuesIn(kZabbixVersions),
                         [](const auto& info) { return zabbix_version_name(info.param); });

}  // namespace
}  // namespace sonda::test
