#include "outside/questdb/questdb_conf.hpp"

#include <gtest/gtest.h>

namespace sonda {
namespace {

TEST(QuestDbConf, SettingsGivenAsPartsAreTakenWhole) {
  // A password that looks like more keys stays a password, and an IPv6 host may come bare.
  const QuestDbConf conf =
      questdb_conf_for(QuestDbTransport::https, "::1", "9443", "u", "x;tls_verify=unsafe_off;");
  EXPECT_EQ(conf.address.text(), "[::1]:9443");
  EXPECT_EQ(conf.password, "x;tls_verify=unsafe_off;");
  EXPECT_TRUE(conf.tls_verify);
  EXPECT_EQ(questdb_conf_for(QuestDbTransport::http, "[::1]", "1", "", "").address.text(),
            "[::1]:1");
  auto refusal = [](std::string_view host, std::string_view port) {
    try {
      questdb_conf_for(QuestDbTransport::http, host, port, "u", "segredo");
    } catch (const IngressError& error) {
      return std::string(error.what());
    }
    return std::string("aceito");
  };
  EXPECT_EQ(refusal("h", "porta"), "porta inválida no endereço do QuestDB \"h:porta\"");
  EXPECT_EQ(refusal("user@h", "1"), "host inválido no endereço do QuestDB \"user@h:1\"");
}

}  // namespace
}  // namespace sonda
