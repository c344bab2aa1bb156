// Whole discovery runs to the hosts of the real Zabbix 6.0 and 7.0 LTS that take values only
// over TLS: one
// with a PSK, one with certificates. The TLS settings come from an agent configuration named by
// SONDA_ZABBIX_CONFIG, the way an operator points the probe at zabbix_sender's file.
#include "support/zabbix_tls.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "support/process.hpp"
#include "support/questdb.hpp"
#include "support/servers.hpp"
#include "support/temp_dir.hpp"
#include "support/zabbix_api.hpp"
#include "support/zabbix_history.hpp"

namespace sonda::test {
namespace {

using namespace std::chrono_literals;

class ZabbixTlsEndToEnd : public ::testing::TestWithParam<std::string> {
 protected:
  const ZabbixServer& server() const { return zabbix_server(GetParam()); }
};

ProcessResult discovery_run(const ZabbixServer& server, const std::string& host,
                            const std::optional<std::string>& config) {
  RunSettings settings = fixture_settings();
  settings.zabbix_host.assign(host);
  ProcessOptions options;
  options.env["SSL_CERT_FILE"] = questdb_server().ca;
  if (config) {
    options.env["SONDA_ZABBIX_CONFIG"] = *config;
    options.env["SONDA_ZABBIX_SERVER"] = std::nullopt;
  } else {
    options.env["SONDA_ZABBIX_SERVER"] = server.address;
  }
  return run_probe(full_form_arguments(settings), options);
}

std::size_t discovered_items(PgSession& zabbix, const std::string& host) {
  return std::stoul(*zabbix.value(
      "SELECT count(*) FROM items i JOIN hosts s ON s.hostid = i.hostid WHERE s.host = '" + host +
      "' AND i.flags = 4"));
}

// Totals, the discovery document and, once discovery has made their items, the per-customer
// values all land in `host` over the connection that `lines` configure.
void delivers_everything(const ZabbixServer& server, const std::string& host,
                         const std::string& lines) {
  SCOPED_TRACE(host);
  TempDir dir;
  const std::string config = agent_configuration(dir, lines, server.address);
  PgSession zabbix(server.database);
  const std::int64_t start = std::time(nullptr);

  const auto first = discovery_run(server, host, config);
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "OK\n");
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(stored_value(zabbix, host, "titulos_totais_em_atraso", start), "6");
  EXPECT_EQ(stored_value(zabbix, host, "valor_total_divida", start), "177.5");
  EXPECT_EQ(stored_value(zabbix, host, "titulos_totais_em_aberto", start), "6");
  EXPECT_EQ(stored_value(zabbix, host, "valor_total_em_aberto", start), "165");
  for (int i = 0; i < 100 && discovered_items(zabbix, host) != 10; ++i) {
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_EQ(discovered_items(zabbix, host), 10u);

  const auto reload = run_process(server.control, {"-c", server.conf, "-R", "config_cache_reload"});
  ASSERT_EQ(reload.status, 0) << reload.err;
  // The reload says nothing when it is done: a run whose values are kept is the sign.
  for (int attempt = 0; attempt < 50; ++attempt) {
    const std::int64_t second_start = std::time(nullptr);
    const auto second = discovery_run(server, host, config);
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.err, "");
    std::optional<std::string> kept;
    for (int i = 0; i < 20 && !kept; ++i) {
      std::this_thread::sleep_for(100ms);
      kept = newest_value(zabbix, host, "valor_divida[1]", second_start);
    }
    if (kept) {
      EXPECT_EQ(kept, "157.5");
      EXPECT_EQ(stored_value(zabbix, host, "titulos_em_atraso[100]", second_start), "1");
      EXPECT_EQ(stored_value(zabbix, host, "valor_divida[2]", second_start), "0");
      return;
    }
  }
  ADD_FAILURE() << "the server never took the discovered items of " << host;
}

TEST_P(ZabbixTlsEndToEnd, PskAndCertificateHostsReceiveTotalsDiscoveryAndCustomerValues) {
  truncate_questdb_tables();
  delivers_everything(server(), zabbix_tls_setup().psk_host, psk_lines());
  delivers_everything(server(), zabbix_tls_setup().cert_host, certificate_lines());
}

TEST_P(ZabbixTlsEndToEnd, ClearTextRunToAPskOnlyHostIsReportedAsNotKept) {
  truncate_questdb_tables();
  PgSession zabbix(server().database);
  const std::int64_t start = std::time(nullptr);
  const auto result = discovery_run(server(), zabbix_tls_setup().psk_host, std::nullopt);
  // The server answers "success" to a sender it refuses: the run goes on, and says so.
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "OK\n");
  EXPECT_TRUE(
      result.err.starts_with("Aviso: o servidor Zabbix recusou 5 valores entre "
                             "titulos_totais_em_atraso, valor_total_divida, "
                             "titulos_totais_em_aberto, valor_total_em_aberto, "
                             "discovery_clientes do host \"" +
                             zabbix_tls_setup().psk_host + "\"."))
      << result.err;
  EXPECT_NE(result.err.find("o host exige criptografia."), std::string::npos) << result.err;
  // Its per-customer values are refused too, with no line of their own.
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(newest_value(zabbix, zabbix_tls_setup().psk_host, "titulos_totais_em_atraso", start),
            std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Zabbix, ZabbixTlsEndToEnd, ::testing::ValuesIn(kZabbixVersions),
                         [](const auto& info) { return zabbix_version_name(info.param); });

}  // namespace
}  // namespace sonda::test
