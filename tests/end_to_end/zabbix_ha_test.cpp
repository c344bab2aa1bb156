// Zabbix as larger providers run it, all real: a cluster of two Zabbix 6.0 nodes (native high
// availability) on one database, several independent destinations, and a proxy group of Zabbix
// 7.0 LTS whose proxies redirect a sender to the one that monitors its host.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "core/host_port.hpp"
#include "support/fake_server.hpp"
#include "support/process.hpp"
#include "support/questdb.hpp"
#include "support/servers.hpp"
#include "support/zabbix_api.hpp"
#include "support/zabbix_history.hpp"

namespace sonda::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

ProcessResult discovery_run(const std::string& servers, const std::string& host) {
  RunSettings settings = fixture_settings();
  settings.zabbix_host.assign(host);
  ProcessOptions options;
  options.env["SONDA_ZABBIX_SERVER"] = servers;
  options.env["SSL_CERT_FILE"] = questdb_server().ca;
  return run_probe(full_form_arguments(settings), options);
}

// Whether something accepts connections at `address` (a standby node does not listen).
bool accepts(const std::string& address) {
  const auto where = parse_host_port(address, 10051);
  return run_process("/bin/bash",
                     {"-c", "exec 3<>/dev/tcp/" + where->host + "/" + std::to_string(where->port)})
             .status == 0;
}

template <typename Check>
bool eventually(Check ready, std::chrono::seconds limit) {
  for (const auto end = std::chrono::steady_clock::now() + limit;
       std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(100ms)) {
    if (ready()) return true;
  }
  return ready();
}

// A node of the test cluster (scripts/lib/zabbix.sh, zbx_ha_start).
struct Node {
  std::string name, dir, address;

  pid_t pid() const {
    std::ifstream file(dir + "/server.pid");
    pid_t pid = 0;
    file >> pid;
    return pid;
  }
  bool running() const { return pid() > 0 && ::kill(pid(), 0) == 0; }
  void start() const { ASSERT_EQ(run_process(dir + "/start", {}).status, 0); }
};

Node cluster_node(const std::string& name) {
  return {name, server_setting("SONDA_TEST_ZBX_HA_" + name + "_DIR"),
          server_setting("SONDA_TEST_ZBX_HA_" + name + "_SERVER")};
}

const std::string kHost = "sonda-teste";

TEST(ZabbixCluster, StandbyListedFirstAndAfterAFailoverTheStoppedNodeListedFirst) {
  truncate_questdb_tables();
  Node a = cluster_node("A"), b = cluster_node("B");
  // An earlier run of this test leaves the node it stopped started again, as standby.
  for (const Node* node : {&a, &b}) {
    if (!node->running()) node->start();
  }
  ASSERT_TRUE(eventually([&] { return accepts(a.address) || accepts(b.address); }, 60s));
  const Node& active = accepts(a.address) ? a : b;
  const Node& standby = &active == &a ? b : a;
  ASSERT_FALSE(accepts(standby.address));
  PgSession zabbix(server_setting("SONDA_TEST_ZBX_HA_DATABASE"));

  const std::int64_t start = std::time(nullptr);
  const auto first = discovery_run(standby.address + ";" + active.address, kHost);
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "OK\n");
  EXPECT_EQ(stored_value(zabbix, kHost, "titulos_totais_em_atraso", start), "6");
  EXPECT_EQ(stored_value(zabbix, kHost, "valor_total_divida", start), "177.5");

  // The active node stops; the standby takes over once it sees that.
  const auto stopped_at = std::chrono::steady_clock::now();
  ASSERT_EQ(::kill(active.pid(), SIGTERM), 0);
  ASSERT_TRUE(eventually([&] { return accepts(standby.address); }, 90s))
      << "the standby node never took over";
  const double failover =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - stopped_at).count();
  RecordProperty("failover_seconds", std::to_string(failover));
  std::printf("Zabbix 6.0 failover: the standby listened %.1f s after the active node stopped\n",
              failover);
  ASSERT_TRUE(eventually([&] { return !active.running(); }, 30s));

  const std::int64_t second_start = std::time(nullptr) + 1;
  std::this_thread::sleep_for(1s);  // the first run's values are all older than this
  const auto second = discovery_run(active.address + ";" + standby.address, kHost);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.out, "OK\n");
  EXPECT_EQ(stored_value(zabbix, kHost, "titulos_totais_em_atraso", second_start), "6");
  EXPECT_EQ(stored_value(zabbix, kHost, "valor_total_em_aberto", second_start), "165");

  active.start();  // back as the standby, for the next run of this test
}

TEST(ZabbixDestinations, WithTheFirstDeadTheSecondGetsEverythingAndTheRunFailsNamingTheDeadOne) {
  truncate_questdb_tables();
  const ZabbixServer& server = zabbix_server();
  const std::string dead = "127.0.0.1:" + std::to_string(closed_port());
  PgSession zabbix(server.database);
  const std::int64_t start = std::time(nullptr);

  const auto run = discovery_run(dead + "," + server.address, server.host);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(run.err.starts_with("Erro: o destino Zabbix " + dead +
                                  " fica de fora do resto desta execução: servidor Zabbix em " +
                                  dead + ": não foi possível conectar: Connection refused"))
      << run.err;
  EXPECT_NE(run.err.find("ZabbixError"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("1 de 2 destinos Zabbix ficou sem parte dos valores: " + dead),
            std::string::npos)
      << run.err;
  // It is not tried again after its first failure.
  std::size_t notices = 0;
  for (std::size_t at = 0; (at = run.err.find("Erro: o destino Zabbix", at)) != std::string::npos;
       ++at) {
    ++notices;
  }
  EXPECT_EQ(notices, 1u) << run.err;

  // Everything reached the live server, and both tables were written.
  EXPECT_EQ(stored_value(zabbix, server.host, "titulos_totais_em_atraso", start), "6");
  EXPECT_EQ(stored_value(zabbix, server.host, "valor_total_divida", start), "177.5");
  EXPECT_EQ(stored_value(zabbix, server.host, "titulos_totais_em_aberto", start), "6");
  EXPECT_EQ(stored_value(zabbix, server.host, "valor_total_em_aberto", start), "165");
  EXPECT_EQ(questdb_rows("bekClientes", server.host).size(), 7u);
  EXPECT_EQ(questdb_rows("bekCobranca", server.host).size(), 7u);
}

// The id of the object of `method` ("proxygroup", "proxy") named `name`, created by `create`
// when there is none yet.
std::string id_of(ZabbixApi& api, const std::string& method, const std::string& id_field,
                  const std::string& name, const json& create) {
  const json found =
      api.call(method + ".get", {{"output", {id_field}}, {"filter", {{"name", {name}}}}});
  if (!found.empty()) return found.at(0).at(id_field).get<std::string>();
  return api.call(method + ".create", create).at(id_field + "s").at(0).get<std::string>();
}

TEST(ZabbixProxyGroup, TheProxyThatDoesNotMonitorTheHostRedirectsAndTheValuesLand) {
  truncate_questdb_tables();
  const ZabbixServer& server = zabbix_server("7.0");
  ZabbixApi api(server);
  const std::string group = id_of(api, "proxygroup", "proxy_groupid", "sonda-grupo",
                                  {{"name", "sonda-grupo"}, {"failover_delay", "10s"}});
  std::map<std::string, std::string> proxy_address;  // proxy id -> its trapper
  for (const auto& [setting, proxy_name] :
       {std::pair<std::string, std::string>{"SONDA_TEST_ZBX7_PROXY_A", "sonda-proxy-a"},
        {"SONDA_TEST_ZBX7_PROXY_B", "sonda-proxy-b"}}) {
    const std::string address = server_setting(setting);
    const auto where = parse_host_port(address, 10051);
    proxy_address[id_of(api, "proxy", "proxyid", proxy_name,
                        {{"name", proxy_name},
                         {"operating_mode", 0},
                         {"proxy_groupid", group},
                         {"local_address", where->host},
                         {"local_port", std::to_string(where->port)}})] = address;
  }

  // A host of its own, under a new name each time (see zabbix_test.cpp), monitored by the group.
  for (const auto& old : api.call("host.get", {{"output", {"hostid"}},
                                               {"search", {{"host", "sonda-grupo-"}}},
                                               {"startSearch", true}})) {
    api.call("host.delete", json::array({old.at("hostid")}));
  }
  const std::string host = "sonda-grupo-" + std::to_string(std::time(nullptr));
  const std::string host_id = api.call("host.create", {{"host", host},
                                                       {"groups", {{{"groupid", "2"}}}},
                                                       {"monitored_by", 2},
                                                       {"proxy_groupid", group}})
                                  .at("hostids")
                                  .at(0)
                                  .get<std::string>();
  json items = json::array();
  for (const auto& [key, type] : {std::pair{"titulos_totais_em_atraso", 3},
                                  {"valor_total_divida", 0},
                                  {"titulos_totais_em_aberto", 3},
                                  {"valor_total_em_aberto", 0}}) {
    items.push_back(
        {{"hostid", host_id}, {"name", key}, {"key_", key}, {"type", 2}, {"value_type", type}});
  }
  api.call("item.create", items);

  // The server gives the host to one proxy; that proxy learns its items.
  std::string assigned;
  ASSERT_TRUE(eventually(
      [&] {
        assigned = api.call("host.get", {{"hostids", {host_id}}, {"output", {"assigned_proxyid"}}})
                       .at(0)
                       .at("assigned_proxyid")
                       .get<std::string>();
        return proxy_address.contains(assigned);
      },
      90s))
      << "the proxy group never took the host";
  const std::string monitoring = proxy_address.at(assigned);
  std::string other;
  for (const auto& [id, address] : proxy_address) {
    if (id != assigned) other = address;
  }
  ASSERT_TRUE(eventually(
      [&] {
        return trapper_answer(monitoring, host, "valor_total_divida", "0")
            .value("info", "")
            .starts_with("processed: 1;");
      },
      60s));
  // The other proxy sends senders of this host to it: the answer this test is about. It learns
  // where the host went at its own next configuration sync, which may come a while after.
  json redirect;
  ASSERT_TRUE(eventually(
      [&] {
        redirect = trapper_answer(other, host, "valor_total_divida", "0");
        return redirect.contains("redirect");
      },
      60s))
      << redirect.dump();
  EXPECT_EQ(redirect["redirect"]["address"], monitoring) << redirect.dump();

  PgSession zabbix(server.database);
  const std::int64_t start = std::time(nullptr) + 1;
  std::this_thread::sleep_for(1s);
  const auto run = discovery_run(other, host);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "OK\n");
  // The proxy forwards the values to the server every second.
  EXPECT_EQ(stored_value(zabbix, host, "titulos_totais_em_atraso", start), "6");
  EXPECT_EQ(stored_value(zabbix, host, "valor_total_divida", start), "177.5");
  EXPECT_EQ(stored_value(zabbix, host, "titulos_totais_em_aberto", start), "6");
  EXPECT_EQ(stored_value(zabbix, host, "valor_total_em_aberto", start), "165");
}

}  // namespace
}  // namespace sonda::test
