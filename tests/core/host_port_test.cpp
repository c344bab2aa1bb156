#include "core/host_port.hpp"

#include <gtest/gtest.h>

namespace sonda {
namespace {

TEST(HostPort, ReadsTheUsualFormsAndWritesThemBack) {
  const std::pair<std::string, std::string> cases[] = {
      {"zabbix.example.net", "zabbix.example.net:10051"},
      {"10.0.0.1:10052", "10.0.0.1:10052"},
      {"db_1.example-net:9000", "db_1.example-net:9000"},
      {"[::1]", "[::1]:10051"},
      {"[fe80::1]:1", "[fe80::1]:1"},
      {"::1", "[::1]:10051"},
      {"::ffff:10.0.0.1", "[::ffff:10.0.0.1]:10051"},
  };
  for (const auto& [text, normal] : cases) {
    const auto address = parse_host_port(text, 10051);
    ASSERT_TRUE(address) << text;
    EXPECT_EQ(address->text(), normal);
  }
}

TEST(HostPort, RefusesWhatCouldEndANameOrChangeAUrlAndSaysWhichPart) {
  // Anything a URL gives a meaning to ("user@", "/path", "?query") is not a host.
  for (const std::string bad : {"", ":10051", "[::1", "[::1]x", "a b", "host:1:2:3]", "user@host",
                                "h/x?y:1", "host#1", "[zz::1]", "host;x"}) {
    HostPortProblem problem = HostPortProblem::none;
    EXPECT_FALSE(parse_host_port(bad, 1, &problem)) << bad;
    EXPECT_EQ(problem, HostPortProblem::host) << bad;
  }
  for (const std::string bad : {"host:", "host:0", "host:65536", "host:porta", "[::1]:"}) {
    HostPortProblem problem = HostPortProblem::none;
    EXPECT_FALSE(parse_host_port(bad, 1, &problem)) << bad;
    EXPECT_EQ(problem, HostPortProblem::port) << bad;
  }
}

// Hosts handed to the name service alone take whatever it may know, as the earlier Zabbix
// address parser did: a link-local IPv6 address with its scope, names beyond ASCII or with
// other punctuation.
TEST(HostPort, NameServiceHostsTakeAnyNameWithoutBlanksOrSeparators) {
  const std::pair<std::string, std::string> cases[] = {
      {"fe80::1%eth0", "[fe80::1%eth0]:10051"},
      {"fe80::1%lo", "[fe80::1%lo]:10051"},
      {"[fe80::1%lo]:10052", "[fe80::1%lo]:10052"},
      {"zabbix.provedor-ação.com.br:10055", "zabbix.provedor-ação.com.br:10055"},
      {"zbx+1.example@x#y", "zbx+1.example@x#y:10051"},
      {"[zabbix.example]:1", "zabbix.example:1"},
  };
  for (const auto& [text, normal] : cases) {
    EXPECT_FALSE(parse_host_port(text, 10051)) << text;  // no URL may take them
    const auto address = parse_host_port(text, 10051, nullptr, HostRule::name_service);
    ASSERT_TRUE(address) << text;
    EXPECT_EQ(address->text(), normal);
  }
  for (const std::string bad :
       {"", "a b", "a\tb", "[::1", "a/b", "a,b", "a;b", "[a]b", "a:", "a:0"}) {
    EXPECT_FALSE(parse_host_port(bad, 1, nullptr, HostRule::name_service)) << bad;
  }
}

}  // namespace
}  // namespace sonda
