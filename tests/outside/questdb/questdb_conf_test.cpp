#include "outside/questdb/questdb_conf.hpp"

#include <gtest/gtest.h>

namespace sonda {
namespace {

std::string refusal(std::string_view text) {
  try {
    parse_questdb_conf(text);
  } catch (const IngressError& error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(QuestDbConf, ReadsTheKeysWithTheOfficialDefaults) {
  const QuestDbConf conf = parse_questdb_conf(
      "https::addr=db.example.net:9443;username=admin;password=s3nha;request_timeout=2500;"
      "retry_timeout=0;tls_verify=unsafe_off;tls_roots=/etc/ca.pem;unknown_key=x;");
  EXPECT_EQ(conf.transport, QuestDbTransport::https);
  EXPECT_EQ(conf.address.host, "db.example.net");
  EXPECT_EQ(conf.address.port, 9443);
  EXPECT_EQ(conf.username, "admin");
  EXPECT_EQ(conf.password, "s3nha");
  EXPECT_EQ(conf.request_timeout.count(), 2500);
  EXPECT_EQ(conf.retry_timeout.count(), 0);
  EXPECT_FALSE(conf.tls_verify);
  EXPECT_EQ(conf.tls_roots, "/etc/ca.pem");

  const QuestDbConf plain = parse_questdb_conf("http::addr=[::1];token=abc;");
  EXPECT_EQ(plain.transport, QuestDbTransport::http);
  EXPECT_EQ(plain.address.host, "::1");
  EXPECT_EQ(plain.address.port, 9000);
  EXPECT_EQ(plain.token, "abc");
  EXPECT_TRUE(plain.tls_verify);
  EXPECT_EQ(plain.request_timeout.count(), 10000);
  EXPECT_EQ(plain.retry_timeout.count(), 10000);
  EXPECT_EQ(plain.auto_flush_rows, 75000u);
}

TEST(QuestDbConf, DoubledSemicolonIsPartOfTheValue) {
  const QuestDbConf conf =
      parse_questdb_conf("https::addr=h:1;username=u;password=a;;b;;;;c;;tls_verify=unsafe_off;");
  EXPECT_EQ(conf.password, "a;b;;c;tls_verify=unsafe_off");
  EXPECT_TRUE(conf.tls_verify);
}

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

TEST(QuestDbConf, MalformedTextSaysWhereAndNeverRepeatsASecret) {
  EXPECT_EQ(refusal("addr=h:1;"),
            "configuração do QuestDB inválida (posição 0): falta o esquema "
            "(http:: ou https::)");
  EXPECT_EQ(refusal("tcp::addr=h:1;"),
            "configuração do QuestDB inválida (posição 0): esquema \"tcp\" não suportado (use "
            "http ou https)");
  EXPECT_EQ(refusal("http::username=u;password=p;"),
            "configuração do QuestDB inválida (posição 28): falta a chave addr");
  EXPECT_EQ(refusal("http::addr=h:1;passwordsegredo;"),
            "configuração do QuestDB inválida (posição 15): chave sem valor");
  EXPECT_EQ(refusal("http::addr=h:porta;"),
            "configuração do QuestDB inválida (posição 6): porta inválida no endereço \"h:porta\"");
  EXPECT_EQ(refusal("http::addr=h:;"),
            "configuração do QuestDB inválida (posição 6): porta inválida no endereço \"h:\"");
  EXPECT_EQ(refusal("http::addr=h/x?y:1;"),
            "configuração do QuestDB inválida (posição 6): host inválido no endereço \"h/x?y:1\"");
  EXPECT_EQ(refusal("http::addr=h:1;addr=g:1;"),
            "configuração do QuestDB inválida (posição 15): chave repetida: addr");
  EXPECT_EQ(refusal("http::addr=h:1;username=u;"),
            "configuração do QuestDB inválida (posição 26): username e password devem ser dados "
            "juntos");
  const std::string secret = refusal("http::addr=h:1;password=segredo;request_timeout=x;");
  EXPECT_NE(secret.find("request_timeout deve ser um número"), std::string::npos);
  EXPECT_EQ(secret.find("segredo"), std::string::npos);
}

}  // namespace
}  // namespace sonda
