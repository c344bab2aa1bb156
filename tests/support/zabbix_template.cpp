#include "support/zabbix_template.hpp"

#include <algorithm>
#include <iostream>
#include <utility>

#include "support/questdb.hpp"
#include "support/servers.hpp"
#include "support/temp_dir.hpp"

namespace sonda::test {

using nlohmann::json;

json host_macro(const std::string& name, const std::string& value, bool secret) {
  return {{"macro", name}, {"value", value}, {"type", secret ? 1 : 0}};
}

std::string import_sonda_template(ZabbixApi& api) {
  const std::string yaml =
      read_file(std::string(SONDA_SOURCE_DIR) + "/zabbix/zabbix_template_sonda_cobranca.yaml");
  const json both = {{"createMissing", true}, {"updateExisting", true}};
  json rules = {{"templates", both},         {"items", both},  {"discoveryRules", both},
                {"triggers", both},          {"graphs", both}, {"valueMaps", both},
                {"templateDashboards", both}};
  // 6.0 has one rule for groups; 7.0 has one for template groups and one for host groups, and
  // refuses "groups".
  if (api.version().starts_with("6.0.")) {
    rules["groups"] = {{"createMissing", true}};
  } else {
    rules["template_groups"] = {{"createMissing", true}};
    rules["host_groups"] = {{"createMissing", true}};
  }
  api.call("configuration.import", {{"format", "yaml"}, {"source", yaml}, {"rules", rules}});
  const json templates = api.call(
      "template.get", {{"output", {"templateid"}}, {"filter", {{"host", {"Sonda Cobranca"}}}}});
  return templates.at(0).at("templateid").get<std::string>();
}

TemplateHost::TemplateHost(ZabbixApi& api, std::string id) : api_(api), id_(std::move(id)) {}

TemplateHost::TemplateHost(TemplateHost&& other) noexcept
    : api_(other.api_), id_(std::exchange(other.id_, {})) {}

TemplateHost::~TemplateHost() {
  if (id_.empty()) return;
  try {
    api_.call("host.delete", json::array({id_}));
  } catch (const std::exception& failure) {
    std::cerr << "host " << id_ << " not deleted: " << failure.what() << std::endl;
  }
}

TemplateHost create_template_host(ZabbixApi& api, const std::string& name,
                                  const std::string& template_id, const json& extra) {
  const json existing =
      api.call("host.get", {{"output", {"hostid"}}, {"filter", {{"host", {name}}}}});
  for (const auto& host : existing) api.call("host.delete", json::array({host.at("hostid")}));
  const PgServer& pg = pg_server();
  const TestQuestDb& qdb = questdb_server();
  json macros = {
      host_macro("{$SONDA.DB.IP}", pg.host),
      host_macro("{$SONDA.DB.PORT}", pg.port),
      host_macro("{$SONDA.DB.NAME}", pg.database),
      host_macro("{$SONDA.DB.USER}", pg.user),
      host_macro("{$SONDA.DB.PASSWORD}", pg.password, true),
      host_macro("{$SONDA.QDB.IP}", qdb.tls_host),
      host_macro("{$SONDA.QDB.PORT}", qdb.tls_port),
      host_macro("{$SONDA.QDB.USER}", qdb.user),
      host_macro("{$SONDA.QDB.PASSWORD}", qdb.password, true),
      host_macro("{$SONDA.QDB.CHAT.IP}", qdb.host),
      host_macro("{$SONDA.QDB.CHAT.PORT}", qdb.port),
      host_macro("{$SONDA.QDB.CHAT.USER}", qdb.user),
      host_macro("{$SONDA.QDB.CHAT.PASSWORD}", qdb.password, true),
  };
  for (const auto& macro : extra) macros.push_back(macro);
  // An external check runs on the server, but Zabbix wants its host to have an interface.
  const json interface = {{"type", 1},         {"main", 1}, {"useip", 1},
                          {"ip", "127.0.0.1"}, {"dns", ""}, {"port", "10050"}};
  const json created = api.call("host.create", {{"host", name},
                                                {"interfaces", {interface}},
                                                {"groups", {{{"groupid", "2"}}}},
                                                {"templates", {{{"templateid", template_id}}}},
                                                {"macros", macros}});
  TemplateHost host(api, created.at("hostids").at(0).get<std::string>());
  set_external_check(api, host.id(), false);
  return host;
}

json set_external_check(ZabbixApi& api, const std::string& host_id, bool enabled) {
  const json external = api.call(
      "item.get",
      {{"hostids", {host_id}}, {"output", {"itemid", "key_"}}, {"filter", {{"type", 10}}}});
  if (external.size() != 1) throw std::runtime_error("host " + host_id + ": no external check");
  api.call("item.update", {{"itemid", external[0].at("itemid")}, {"status", enabled ? 0 : 1}});
  return external[0];
}

namespace {

// An empty discovery document: the server takes it when it knows the host and its rule is
// enabled, and it discovers nothing.
constexpr const char* kNoCustomers = R"({"data": []})";

}  // namespace

void enable_discovery_rule(ZabbixApi& api, const std::string& host_id, const std::string& name,
                           bool enabled) {
  const json rules =
      api.call("discoveryrule.get", {{"hostids", {host_id}}, {"output", {"itemid"}}});
  api.call("discoveryrule.update",
           {{"itemid", rules.at(0).at("itemid")}, {"status", enabled ? 0 : 1}});
  reload_zabbix_configuration(api.server(), name, "discovery_clientes", kNoCustomers, enabled);
}

void wait_until_server_has_host(ZabbixApi& api, const std::string& host_id,
                                const std::string& name) {
  reload_zabbix_configuration(api.server(), name, "discovery_clientes", kNoCustomers);
  enable_discovery_rule(api, host_id, name, false);
  enable_discovery_rule(api, host_id, name, true);
}

namespace {

json item_of(ZabbixApi& api, const std::string& host_id, const std::string& key) {
  const json items = api.call(
      "item.get",
      {{"hostids", {host_id}}, {"output", {"itemid", "value_type"}}, {"filter", {{"key_", key}}}});
  if (items.empty()) throw std::runtime_error("no item " + key + " on host " + host_id);
  return items.at(0);
}

}  // namespace

std::string item_id(ZabbixApi& api, const std::string& host_id, const std::string& key) {
  return item_of(api, host_id, key).at("itemid").get<std::string>();
}

std::vector<std::string> item_history(ZabbixApi& api, const std::string& host_id,
                                      const std::string& key, int limit) {
  const json item = item_of(api, host_id, key);
  json values =
      api.call("history.get", {{"itemids", {item.at("itemid")}},
                               {"history", std::stoi(item.at("value_type").get<std::string>())},
                               {"output", "extend"},
                               {"sortfield", "clock"},
                               {"sortorder", "DESC"},
                               {"limit", limit}});
  // The API sorts by whole seconds only: values of the same second come in any order.
  const auto instant = [](const json& value) {
    return std::pair(std::stoll(value.at("clock").get<std::string>()),
                     std::stoll(value.at("ns").get<std::string>()));
  };
  std::vector<json> sorted(values.begin(), values.end());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [&](const json& a, const json& b) { return instant(a) > instant(b); });
  std::vector<std::string> history;
  for (const auto& value : sorted) history.push_back(value.at("value").get<std::string>());
  return history;
}

std::vector<std::string> open_problems(ZabbixApi& api, const std::string& host_id) {
  std::vector<std::string> names;
  for (const auto& problem :
       api.call("problem.get", {{"hostids", {host_id}}, {"output", {"name"}}})) {
    names.push_back(problem.at("name").get<std::string>());
  }
  return names;
}

std::optional<json> open_problem(ZabbixApi& api, const std::string& host_id,
                                 const std::string& prefix) {
  for (const auto& problem : api.call(
           "problem.get", {{"hostids", {host_id}}, {"output", {"name", "opdata", "objectid"}}})) {
    if (problem.at("name").get<std::string>().starts_with(prefix)) return problem;
  }
  return std::nullopt;
}

}  // namespace sonda::test
