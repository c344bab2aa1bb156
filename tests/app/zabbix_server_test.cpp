#include "app/zabbix_server.hpp"

#include <gtest/gtest.h>

#include "app/run_settings.hpp"
#include "support/temp_dir.hpp"

namespace sonda {
namespace {

using test::TempDir;

TEST(ZabbixServer, EnvironmentComesFirst) {
  TempDir dir;
  const auto conf = dir.write("agentd.conf", "ServerActive=10.1.1.1\n");
  EXPECT_EQ(zabbix_server_from({"zbx:10060", {conf}}), "zbx:10060");
  EXPECT_THROW(zabbix_server_from({"zbx:porta", {conf}}), ConfigError);
}

TEST(ZabbixServer, ServerActiveOfTheFirstAgentConfigurationThatHasOneWithEveryDestination) {
  TempDir dir;
  const auto without =
      dir.write("a.conf", "# ServerActive=1.1.1.1\nServer=2.2.2.2\nServerActive=\n");
  const auto with = dir.write("b.conf",
                              "LogFile=/tmp/x\n  ServerActive = zbx1:10055;zbx2 , zbx3\n"
                              "ServerActive=ignored\n");
  EXPECT_EQ(zabbix_server_from({std::nullopt, {dir.path() / "missing.conf", without, with}}),
            "zbx1:10055;zbx2:10051,zbx3:10051");
  EXPECT_EQ(zabbix_server_from({" [::1]:10060 ; zbx ", {with}}), "[::1]:10060;zbx:10051");
  EXPECT_THROW(zabbix_server_from({"zbx1,,zbx2", {with}}), ConfigError);
  EXPECT_THROW(zabbix_server_from({"zbx1;", {with}}), ConfigError);
}

TEST(ZabbixServer, FallsBackToTheLocalServer) {
  EXPECT_EQ(zabbix_server_from({std::nullopt, {"/nonexistent/zabbix_agentd.conf"}}),
            "127.0.0.1:10051");
}

TEST(ZabbixServer, MalformedServerActiveNamesFileAndLine) {
  TempDir dir;
  const auto conf = dir.write("agentd.conf", "\n\nServerActive=zbx:abc\n");
  try {
    zabbix_server_from({std::nullopt, {conf}});
    FAIL();
  } catch (const ConfigError& error) {
    EXPECT_NE(std::string(error.what()).find(conf + ", linha 3"), std::string::npos)
        << error.what();
  }
}

// The TLS settings are read from the file zabbix_sender -c would be given: the one named by
// SONDA_ZABBIX_CONFIG, or the agent configuration that gave the address.
TEST(ZabbixServer, TlsSettingsComeFromTheFileThatGivesTheAddress) {
  TempDir dir;
  const auto plain = dir.write("plain.conf", "Hostname=x\n");
  const auto active = dir.write("active.conf", "ServerActive=zbx2\n");
  const auto named = dir.write("named.conf", "ServerActive=zbx3:10060\n");
  const std::vector<std::string> agents = {dir.path() / "missing.conf", plain, active};

  EXPECT_EQ(zabbix_configuration_file({std::nullopt, agents}), active);
  EXPECT_EQ(zabbix_configuration_file({std::nullopt, {plain}}), plain);
  EXPECT_EQ(zabbix_configuration_file({std::nullopt, {dir.path() / "missing.conf"}}), std::nullopt);

  // A named file replaces the agent configurations, also when the address comes from the
  // environment.
  EXPECT_EQ(zabbix_server_from({std::nullopt, agents, named}), "zbx3:10060");
  EXPECT_EQ(zabbix_configuration_file({std::nullopt, agents, named}), named);
  EXPECT_EQ(zabbix_server_from({"zbx9", agents, plain}), "zbx9:10051");
  EXPECT_EQ(zabbix_server_from({std::nullopt, agents, plain}), "127.0.0.1:10051");
  EXPECT_EQ(zabbix_configuration_file({"zbx9", agents, plain}), plain);

  // An address from the environment does not make a malformed ServerActive fatal.
  const auto malformed = dir.write("malformed.conf", "ServerActive=zbx:abc\n");
  EXPECT_EQ(zabbix_configuration_file({"zbx9", {malformed}}), malformed);

  const std::string missing = dir.path() / "missing.conf";
  EXPECT_THROW(zabbix_configuration_file({std::nullopt, agents, missing}), ConfigError);
  EXPECT_THROW(zabbix_server_from({std::nullopt, agents, missing}), ConfigError);
}

}  // namespace
}  // namespace sonda
