// The Zabbix template as an operator uses it: imported through the API of a real Zabbix 6.0 and
// of a real Zabbix 7.0 LTS, linked to a host, its external check started at once, and the customers
// discovered from what that check's background run sends.
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

json macro(const std::string& name, const std::string& value, bool secret = false) {
  return {{"macro", name}, {"value", value}, {"type", secret ? 1 : 0}};
}

// Waits up to a minute for `ready` to hold.
template <typename Check>
bool eventually(Check ready) {
  for (int i = 0; i < 300; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(200ms);
  }
  return false;
}

// The import rules of the API's version: 6.0 has one rule for groups, 7.0 one for template
// groups and one for host groups (and refuses "groups").
json import_rules(const ZabbixApi& api) {
  const json both = {{"createMissing", true}, {"updateExisting", true}};
  json rules = {{"templates", both}, {"items", both}, {"discoveryRules", both}, {"triggers", both}};
  if (api.version().starts_with("6.0.")) {
    rules["groups"] = {{"createMissing", true}};
  } else {
    rules["template_groups"] = {{"createMissing", true}};
    rules["host_groups"] = {{"createMissing", true}};
  }
  return rules;
}

std::string import_template(ZabbixApi& api) {
  const std::string yaml =
      read_file(std::string(SONDA_SOURCE_DIR) + "/zabbix/zabbix_template_sonda_cobranca.yaml");
  api.call("configuration.import",
           {{"format", "yaml"}, {"source", yaml}, {"rules", import_rules(api)}});
  const json templates = api.call(
      "template.get", {{"output", {"templateid"}}, {"filter", {{"host", {"Sonda Cobranca"}}}}});
  return templates.at(0).at("templateid").get<std::string>();
}

std::string create_host(ZabbixApi& api, const std::string& template_id) {
  const json existing =
      api.call("host.get", {{"output", {"hostid"}}, {"filter", {{"host", {kHost}}}}});
  for (const auto& host : existing) api.call("host.delete", json::array({host.at("hostid")}));
  const PgServer& pg = pg_server();
  const TestQuestDb& qdb = questdb_server();
  const json macros = {
      macro("{$SONDA.DB.IP}", pg.host),
      macro("{$SONDA.DB.PORT}", pg.port),
      macro("{$SONDA.DB.NAME}", pg.database),
      macro("{$SONDA.DB.USER}", pg.user),
      macro("{$SONDA.DB.PASSWORD}", pg.password, true),
      macro("{$SONDA.QDB.IP}", qdb.tls_host),
      macro("{$SONDA.QDB.PORT}", qdb.tls_port),
      macro("{$SONDA.QDB.USER}", qdb.user),
      macro("{$SONDA.QDB.PASSWORD}", qdb.password, true),
      macro("{$SONDA.QDB.CHAT.IP}", qdb.host),
      macro("{$SONDA.QDB.CHAT.PORT}", qdb.port),
      macro("{$SONDA.QDB.CHAT.USER}", qdb.user),
      macro("{$SONDA.QDB.CHAT.PASSWORD}", qdb.password, true),
  };
  // An external check runs on the server, but Zabbix wants its host to have an interface.
  const json interface = {{"type", 1},         {"main", 1}, {"useip", 1},
                          {"ip", "127.0.0.1"}, {"dns", ""}, {"port", "10050"}};
  const json created = api.call("host.create", {{"host", kHost},
                                                {"interfaces", {interface}},
                                                {"groups", {{{"groupid", "2"}}}},
                                                {"templates", {{{"templateid", template_id}}}},
                                                {"macros", macros}});
  return created.at("hostids").at(0).get<std::string>();
}

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
  const std::string host_id = create_host(api, import_template(api));
  reload_zabbix_configuration(server, kHost, "titulos_totais_em_atraso");

  // The template's external check, started now instead of in ten minutes.
  const json external = api.call(
      "item.get",
      {{"hostids", {host_id}}, {"output", {"itemid", "key_"}}, {"filter", {{"type", 10}}}});
  ASSERT_EQ(external.size(), 1u);
  EXPECT_TRUE(external[0].at("key_").get<std::string>().starts_with(
      "sonda-cobranca[\"launch_discovery_clientes\",\"{HOST.HOST}\""));
  api.call("task.create",
           json::array({{{"type", 6}, {"request", {{"itemid", external[0].at("itemid")}}}}}));

  // Its background run sends the totals and the discovery document.
  ASSERT_TRUE(eventually([&] { return discovered(items_of(api, host_id)) == 10; }))
      << "discovered " << discovered(items_of(api, host_id));
  const auto log = std::filesystem::path(server.log_dir) /
                   ("sonda-cobranca-" + kHost + "-discovery_clientes.log");
  EXPECT_TRUE(eventually([&] { return read_file(log).find("status 0") != std::string::npos; }));
  EXPECT_NE(read_file(log).find("\nOK\n"), std::string::npos) << read_file(log);

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
  EXPECT_TRUE(eventually([&] {
    const json problems = api.call("problem.get", {{"hostids", {host_id}}, {"output", {"name"}}});
    for (const auto& problem : problems) {
      if (problem.at("name") == "Mercado Estação: 3 títulos em atraso") return true;
    }
    return false;
  }));
}

INSTANTIATE_TEST_SUITE_P(Zabbix, ZabbixTemplate, ::testing::ValuesIn(kZabbixVersions),
                         [](const auto& info) { return zabbix_version_name(info.param); });

}  // namespace
}  // namespace sonda::test
