// The Zabbix template as an operator uses it: imported through the API of a real Zabbix 6.0 and
// of a real Zabbix 7.0 LTS, linked to a host, its external check started at once, and the
// customers discovered from what that check's background run sends.
#include "support/zabbix_template.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "support/process.hpp"
#include "support/questdb.hpp"
#include "support/servers.hpp"
#include "support/temp_dir.hpp"
#include "support/zabbix_api.hpp"

namespace sonda::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::string kHost = "sonda-modelo";

// The host's items as key -> (flags, last value).
std::map<std::string, std::pair<int, std::string>> items_of(ZabbixApi& api,
                                                            const std::string& host_id) {
  std::map<std::string, std::pair<int, std::string>> items;
  for (const auto& item :
       api.call("item.get", {{"hostids", {host_id}}, {"output", {"key_", "flags", "lastvalue"}}})) {
    items[item.at("key_").get<std::string>()] = {std::stoi(item.at("flags").get<std::string>()),
                                                 item.at("lastvalue").get<std::string>()};
  }
  return items;
}

int discovered(const std::map<std::string, std::pair<int, std::string>>& items) {
  int count = 0;
  for (const auto& [key, item] : items) count += item.first == 4;
  return count;
}

class ZabbixTemplate : public ::testing::TestWithParam<std::string> {};

TEST_P(ZabbixTemplate, ImportsLinksAndItsExternalCheckDiscoversTheCustomers) {
  const ZabbixServer& server = zabbix_server(GetParam());
  truncate_questdb_tables();
  ZabbixApi api(server);
  // A low debt threshold, for the debt trigger of the fixture's first customer.
  const TemplateHost host =
      create_template_host(api, kHost, import_sonda_template(api),
                           json::array({host_macro("{$SONDA.DIVIDA.MAX}", "150")}));
  const std::string& host_id = host.id();
  // The template's external check, enabled for this test only and started now instead of in
  // ten minutes.
  const json external = set_external_check(api, host_id, true);
  wait_until_server_has_host(api, host_id, kHost);
  EXPECT_TRUE(external.at("key_").get<std::string>().starts_with(
      "sonda-cobranca[\"launch_discovery_clientes\",\"{HOST.HOST}\""));
  api.call("task.create",
           json::array({{{"type", 6}, {"request", {{"itemid", external.at("itemid")}}}}}));

  // Its background run sends the totals and the discovery document.
  ASSERT_TRUE(eventually([&] { return discovered(items_of(api, host_id)) == 10; }))
      << "discovered " << discovered(items_of(api, host_id));
  const auto log = std::filesystem::path(server.log_dir) /
                   ("sonda-cobranca-" + kHost + "-discovery_clientes.log");
  EXPECT_TRUE(eventually([&] { return read_file(log).find("status 0") != std::string::npos; }));
  EXPECT_NE(read_file(log).find("\nOK\n"), std::string::npos) << read_file(log);
  // Its outcome, sent by the process that waited for it, with the server's own environment.
  std::vector<std::string> outcomes;
  EXPECT_TRUE(eventually([&] {
    outcomes = item_history(api, host_id, "sonda_execucao");
    return !outcomes.empty();
  }));
  ASSERT_EQ(outcomes.size(), 1u);
  const json outcome = json::parse(outcomes[0]);
  EXPECT_EQ(outcome.at("situacao"), 0);
  EXPECT_EQ(outcome.at("clientes"), 7);
  EXPECT_EQ(outcome.at("erro"), "");

  // The totals, once the server's history syncers have stored them.
  auto items = items_of(api, host_id);
  EXPECT_TRUE(eventually([&] {
    items = items_of(api, host_id);
    return items.at("titulos_totais_em_atraso").second == "6" &&
           items.at("valor_total_divida").second == "177.5" &&
           items.at("valor_total_em_aberto").second == "165";
  })) << items.at("titulos_totais_em_atraso").second
      << " " << items.at("valor_total_divida").second;
  EXPECT_EQ(questdb_rows("bekClientes", kHost).size(), 7u);

  // The discovered items, named by the prototypes, receive the next run's values; the trigger
  // prototypes make triggers that fire for a customer over the thresholds.
  reload_zabbix_configuration(server, kHost, "titulos_em_atraso[5]");
  RunSettings settings = fixture_settings();
  settings.zabbix_host.assign(kHost);
  ProcessOptions options;
  options.env["SONDA_ZABBIX_SERVER"] = server.address;
  options.env["SSL_CERT_FILE"] = questdb_server().ca;
  ASSERT_EQ(run_probe(full_form_arguments(settings), options).out, "OK\n");
  EXPECT_TRUE(eventually([&] {
    items = items_of(api, host_id);
    return items.at("valor_divida[1]").second == "157.5" &&
           items.at("titulos_em_atraso[1]").second == "3";
  }));
  const json names = api.call(
      "item.get",
      {{"hostids", {host_id}}, {"output", {"name"}}, {"filter", {{"key_", "valor_divida[1]"}}}});
  EXPECT_EQ(names.at(0).at("name"), "Dívida de Mercado Estação (00000000000)");
  // The amount shows once, with the item's units.
  for (const std::string name :
       {"Mercado Estação: 3 títulos em atraso", "Mercado Estação: dívida de 157.5 R$"}) {
    EXPECT_TRUE(eventually([&] {
      const auto problems = open_problems(api, host_id);
      return std::find(problems.begin(), problems.end(), name) != problems.end();
    })) << name;
  }
}

// Without the amounts, a run whose customers are the same sends the same document, which the
// template's discovery rule discards: the server does not work through the customers again.
// Each discovered item records when a document last discovered it.
TEST_P(ZabbixTemplate, WithoutAmountsOnlyADocumentWithChangedCustomersIsDiscoveredAgain) {
  const ZabbixServer& server = zabbix_server(GetParam());
  truncate_questdb_tables();
  ZabbixApi api(server);
  const std::string host = "sonda-descoberta-estavel";
  const TemplateHost made = create_template_host(api, host, import_sonda_template(api));
  const std::string& host_id = made.id();
  wait_until_server_has_host(api, host_id, host);
  const std::string database = "cobranca_descoberta_estavel";
  create_database(database, {"billing_schema.sql", "billing_fixture.sql"});
  RunSettings settings = fixture_settings(database);
  settings.zabbix_host.assign(host);
  ProcessOptions options;
  options.env["SONDA_ZABBIX_SERVER"] = server.address;
  options.env["SSL_CERT_FILE"] = questdb_server().ca;
  options.env["SONDA_DISCOVERY_AMOUNTS"] = "0";
  PgSession zabbix(server.database);
  const auto last_discovered = [&] {
    return zabbix.value(
        "SELECT d.lastcheck FROM item_discovery d JOIN items i ON i.itemid = d.itemid "
        "WHERE i.hostid = " +
        host_id + " AND i.key_ = 'valor_divida[1]'");
  };
  const auto debt_item_name = [&] {
    return api
        .call("item.get", {{"hostids", {host_id}},
                           {"output", {"name"}},
                           {"filter", {{"key_", "valor_divida[1]"}}}})
        .at(0)
        .at("name")
        .get<std::string>();
  };

  ASSERT_EQ(run_probe(full_form_arguments(settings), options).out, "OK\n");
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(eventually([&] { return discovered(items_of(api, host_id)) == 10; }));
  // A document the server works through again is seen well within twice the time the first
  // one, which also created the items, took: waiting that long tells a discarded document
  // from one still queued on a busy server.
  const std::chrono::steady_clock::duration worked_through =
      std::clamp<std::chrono::steady_clock::duration>(2 * (std::chrono::steady_clock::now() - sent),
                                                      4s, 30s);

  // Some customers pay between runs: only the amounts change, and the document stays the same.
  // While the host is new the server may still work through one such document (its first
  // value can reach preprocessing before the rule's steps do); then it discards them.
  PgSession billing(database);
  bool discarded = false;
  for (int run = 0; run < 4 && !discarded; ++run) {
    billing.exec("UPDATE financeiro_titulo SET valor = valor + 10");
    std::this_thread::sleep_for(std::chrono::seconds(2));  // a later second to record
    const auto before = last_discovered();
    ASSERT_TRUE(before.has_value());
    ASSERT_EQ(run_probe(full_form_arguments(settings), options).out, "OK\n");
    std::this_thread::sleep_for(worked_through);
    discarded = last_discovered() == before;
  }
  EXPECT_TRUE(discarded);

  // A customer renamed changes the document, which is discovered again.
  const auto kept = last_discovered();
  billing.exec("UPDATE admcore_pessoa SET nome = 'Mercado Estação Novo' WHERE id = 1");
  ASSERT_EQ(run_probe(full_form_arguments(settings), options).out, "OK\n");
  EXPECT_TRUE(eventually([&] {
    return debt_item_name() == "Dívida de Mercado Estação Novo (00000000000)";
  })) << debt_item_name();
  EXPECT_NE(last_discovered(), kept);
}

INSTANTIATE_TEST_SUITE_P(Zabbix, ZabbixTemplate, ::testing::ValuesIn(kZabbixVersions),
                         [](const auto& info) { return zabbix_version_name(info.param); });

}  // namespace
}  // namespace sonda::test
