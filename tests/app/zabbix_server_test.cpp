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

TEST(ZabbixServer, FirstServerActiveOfTheFirstAgentConfigurationThatHasOne) {
  TempDir dir;
  const auto without =
      dir.write("a.conf", "# ServerActive=1.1.1.1\nServer=2.2.2.2\nServerActive=\n");
  const auto with = dir.write("b.conf",
                              "LogFile=/tmp/x\n  ServerActive = zbx1:10055;zbx2 , zbx3\n"
                              "ServerActive=ignored\n");
  EXPECT_EQ(zabbix_server_from({std::nullopt, {dir.path() / "missing.conf", without, with}}),
            "zbx1:10055");
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

}  // namespace
}  // namespace sonda
