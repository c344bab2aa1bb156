#include "outside/zabbix/zabbix_settings.hpp"

#include <gtest/gtest.h>

namespace sonda {
namespace {

// Each destination as its nodes' texts, "|" between nodes.
std::vector<std::string> destinations(std::string_view list) {
  std::vector<std::string> texts;
  for (const ZabbixDestination& destination : parse_zabbix_destinations(list, "em teste")) {
    std::string text;
    for (const HostPort& node : destination.nodes) text += (text.empty() ? "" : "|") + node.text();
    texts.push_back(text);
  }
  return texts;
}

TEST(ZabbixDestinations, ServerActiveListsServersAndTheNodesOfClusters) {
  using List = std::vector<std::string>;
  EXPECT_EQ(destinations("zbx"), List{"zbx:10051"});
  EXPECT_EQ(destinations("zbx1:10055;zbx2 , zbx3"), (List{"zbx1:10055|zbx2:10051", "zbx3:10051"}));
  EXPECT_EQ(destinations(" [::1]:10052 ; 10.0.0.2,[fe80::1%eth0]:1,fe80::2%lo, ::1 "),
            (List{"[::1]:10052|10.0.0.2:10051", "[fe80::1%eth0]:1", "[fe80::2%lo]:10051",
                  "[::1]:10051"}));
}

TEST(ZabbixDestinations, EmptyMalformedOrRepeatedAddressesAreRefusedNamingThem) {
  const std::pair<std::string, std::string> cases[] = {
      {"zbx,", "endereço do servidor Zabbix inválido em teste: \"\" (use host ou host:porta)"},
      {"a;;b", "endereço do servidor Zabbix inválido em teste: \"\" (use host ou host:porta)"},
      {"zbx:porta",
       "endereço do servidor Zabbix inválido em teste: \"zbx:porta\" (use host ou "
       "host:porta)"},
      {"zbx 2",
       "endereço do servidor Zabbix inválido em teste: \"zbx 2\" (use host ou "
       "host:porta)"},
      {"zbx;zbx:10051",
       "o servidor Zabbix zbx:10051 aparece mais de uma vez em teste; deixe um só"},
      {"a, [::1]:10051, ::1",
       "o servidor Zabbix [::1]:10051 aparece mais de uma vez em teste; deixe um só"},
  };
  for (const auto& [list, message] : cases) {
    try {
      parse_zabbix_destinations(list, "em teste");
      ADD_FAILURE() << list;
    } catch (const ConfigError& error) {
      EXPECT_EQ(std::string(error.what()), message) << list;
    }
  }
}

}  // namespace
}  // namespace sonda
