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

}  // namespace
}  // namespace sonda
