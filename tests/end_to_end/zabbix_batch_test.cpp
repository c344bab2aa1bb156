// Batch mode and compressed requests against the real Zabbix 6.0 and 7.0 LTS, on a host of their
// own set up through the API as an operator would: trapper items for the totals, the discovery rule
// and its two item prototypes.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "outside/zabbix/zabbix_sender.hpp"
#include "support/process.hpp"
#include "support/questdb.hpp"
#include "support/servers.hpp"
#include "support/zabbix_api.hpp"
#include "support/zabbix_history.hpp"

namespace sonda::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// A new name for each run: a host deleted and made again under the same name could still be
// the old one in the server's configuration cache.
const std::string kHost = "sonda-lote-" + std::to_string(std::time(nullptr));

class ZabbixBatchEndToEnd : public ::testing::TestWithParam<std::string> {
 protected:
  const ZabbixServer& server() const { return zabbix_server(GetParam()); }
};

void create_host(ZabbixApi& api) {
  for (const auto& host :
       api.call("host.get", {{"output", {"hostid"}}, {"search", {{"host", "sonda-lote-"}}}})) {
    api.call("host.delete", json::array({host.at("hostid")}));
  }
  const std::string host_id =
      api.call("host.create", {{"host", kHost}, {"groups", {{{"groupid", "2"}}}}})
          .at("hostids")
          .at(0)
          .get<std::string>();
  const auto trapper = [&](const std::string& key, int value_type) {
    return json{
        {"name", key}, {"key_", key}, {"hostid", host_id}, {"type", 2}, {"value_type", value_type}};
  };
  api.call(
      "item.create",
      json::array({trapper("titulos_totais_em_atraso", 3), trapper("valor_total_divida", 0),
                   trapper("titulos_totais_em_aberto", 3), trapper("valor_total_em_aberto", 0)}));
  const std::string rule_id = api.call("discoveryrule.create", {{"name", "Clientes"},
                                                                {"key_", "discovery_clientes"},
                                                                {"hostid", host_id},
                                                                {"type", 2}})
                                  .at("itemids")
                                  .at(0)
                                  .get<std::string>();
  json prototypes = json::array(
      {trapper("valor_divida[{#CLIENTE_ID}]", 0), trapper("titulos_em_atraso[{#CLIENTE_ID}]", 3)});
  for (json& prototype : prototypes) prototype["ruleid"] = rule_id;
  api.call("itemprototype.create", prototypes);
}

ProcessResult batch_run(const ZabbixServer& server, const std::string& batch) {
  RunSettings settings = fixture_settings();
  settings.zabbix_host.assign(kHost);
  ProcessOptions options;
  options.env["SONDA_ZABBIX_SERVER"] = server.address;
  options.env["SONDA_ZABBIX_BATCH"] = batch;
  options.env["SSL_CERT_FILE"] = questdb_server().ca;
  return run_probe(full_form_arguments(settings), options);
}

std::size_t discovered_items(PgSession& zabbix) {
  return std::stoul(*zabbix.value(
      "SELECT count(*) FROM items i JOIN hosts s ON s.hostid = i.hostid WHERE s.host = '" + kHost +
      "' AND i.flags = 4"));
}

TEST_P(ZabbixBatchEndToEnd, FirstRunDiscoversSecondRunFillsAndLargeDocumentsArriveCompressed) {
  truncate_questdb_tables();
  ZabbixApi api(server());
  create_host(api);
  // The rule is created after the items: its taking an (empty) document is the sign.
  reload_zabbix_configuration(server(), kHost, "discovery_clientes", R"({"data":[]})");
  PgSession zabbix(server().database);

  // First run: the totals and the document land; the customer items do not exist yet, which
  // is no news to tell.
  const std::int64_t start = std::time(nullptr);
  const auto first = batch_run(server(), "1000");
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "OK\n");
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(stored_value(zabbix, kHost, "titulos_totais_em_atraso", start), "6");
  EXPECT_EQ(stored_value(zabbix, kHost, "valor_total_divida", start), "177.5");
  EXPECT_EQ(stored_value(zabbix, kHost, "valor_total_em_aberto", start), "165");
  for (int i = 0; i < 600 && discovered_items(zabbix) < 10; ++i) std::this_thread::sleep_for(100ms);
  ASSERT_EQ(discovered_items(zabbix), 10u);
  EXPECT_EQ(questdb_rows("bekClientes", kHost).size(), 7u);

  // Second run, in requests of 4: the customer values land; only those of the row without a
  // customer id have no item (the discovery cannot make one for a null id).
  reload_zabbix_configuration(server(), kHost, "titulos_em_atraso[5]");
  const std::int64_t second_start = std::time(nullptr);
  const auto second = batch_run(server(), "4");
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(stored_value(zabbix, kHost, "valor_divida[1]", second_start), "157.5");
  EXPECT_EQ(stored_value(zabbix, kHost, "titulos_em_atraso[1]", second_start), "3");
  EXPECT_EQ(stored_value(zabbix, kHost, "valor_divida[3]", second_start), "10");
  EXPECT_EQ(stored_value(zabbix, kHost, "titulos_em_atraso[100]", second_start), "1");

  // A document of several MiB goes compressed; the server takes it as one value and discovers
  // from it (one more customer than the fixture has).
  constexpr int kIds[] = {1, 2, 3, 5, 100};
  std::string document = R"({"data": [)";
  for (int i = 0; document.size() < 3 * 1024 * 1024; ++i) {
    document += R"({"{#CLIENTE_ID}": )" + std::to_string(kIds[i % 5]) +
                R"(, "{#RAZAOSOCIAL}": "Cliente )" + std::to_string(i) + R"("}, )";
  }
  document += R"({"{#CLIENTE_ID}": 7, "{#RAZAOSOCIAL}": "Novo"}]})";
  ZabbixSender sender(zabbix_settings_for(server().address));
  const ZabbixCounts counts = send_zabbix(sender, kHost, "discovery_clientes", std::move(document));
  EXPECT_EQ(counts.processed, 1u);
  EXPECT_EQ(counts.failed, 0u);
  for (int i = 0; i < 600 && discovered_items(zabbix) < 12; ++i) std::this_thread::sleep_for(100ms);
  EXPECT_EQ(discovered_items(zabbix), 12u);
}

INSTANTIATE_TEST_SUITE_P(Zabbix, ZabbixBatchEndToEnd, ::testing::ValuesIn(kZabbixVersions),
                         [](const auto& info) { return zabbix_version_name(info.param); });

}  // namespace
}  // namespace sonda::test
