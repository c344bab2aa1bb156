// Several destinations, the nodes of a cluster and Zabbix 7.0 redirects, against small
// in-process trappers that fail on purpose. The real cluster, proxy group and servers are in
// tests/end_to_end/zabbix_ha_test.cpp.
#include <chrono>
#include <memory>

#include <gtest/gtest.h>

#include "outside/zabbix/zabbix_sender.hpp"
#include "support/captured_stderr.hpp"
#include "support/fake_zabbix.hpp"

namespace sonda::test {
namespace {

std::string closed_address() { return "127.0.0.1:" + std::to_string(closed_port()); }

// A sender for the servers listed as ServerActive lists them.
ZabbixSender sender_for(const std::string& list) { return ZabbixSender(zabbix_settings_for(list)); }

std::string failure_of(const std::string& address) {
  try {
    ZabbixSender sender = sender_for(address);
    send_zabbix(sender, "h", "k", std::int64_t{1});
  } catch (const ZabbixError& error) {
    return error.what();
  }
  return "(no failure)";
}

TEST(ZabbixRoute, NodesAreTriedInOrderAndTheOneThatAcceptedServesTheRestOfTheRun) {
  FakeZabbix first, second;
  const std::string dead = closed_address();
  const std::string cluster = dead + ";" + first.address() + ";" + second.address();
  ZabbixSender sender = sender_for(cluster);
  send_zabbix(sender, "h", "k", std::int64_t{1});
  send_zabbix(sender, "h", "k", std::int64_t{2});
  EXPECT_EQ(first.items().size(), 2u);
  EXPECT_EQ(second.connections(), 0);
  EXPECT_EQ(sender.left_out(), std::nullopt);

  // A node that took the connection and then failed is never left for the next one: the
  // request may have been taken, and sending it again would count it twice.
  FakeZabbix dropping({ZabbixAnswer::drop});
  const std::string failure = failure_of(dropping.address() + ";" + second.address());
  EXPECT_NE(failure.find("servidor Zabbix em " + dropping.address() +
                         ": a conexão foi fechada antes da resposta"),
            std::string::npos)
      << failure;
  EXPECT_EQ(second.connections(), 0);

  // None accepts: each node's failure is named.
  const std::string other_dead = closed_address();
  const std::string none = failure_of(dead + ";" + other_dead);
  EXPECT_NE(none.find("servidor Zabbix em " + dead + ";" + other_dead +
                      ": nenhum nó aceitou a conexão: " + dead + ": Connection refused; " +
                      other_dead + ": Connection refused"),
            std::string::npos)
      << none;
}

// A node switched off answers nothing at all: it may hold the connection for its share of the
// call's time (half of it for the first of two), no longer.
TEST(ZabbixRoute, ASilentNodeIsPassedOverAfterItsShareOfTheTime) {
  DroppingPort silent;
  FakeZabbix live;
  const auto start = std::chrono::steady_clock::now();
  ZabbixSender sender =
      sender_for("127.0.0.1:" + std::to_string(silent.port()) + ";" + live.address());
  send_zabbix(sender, "h", "k", std::int64_t{1});
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(live.items().size(), 1u);
  EXPECT_GE(waited, kZabbixCallTimeout / 2 - std::chrono::seconds(1));
  EXPECT_LT(waited, kZabbixCallTimeout / 2 + std::chrono::seconds(5));
}

TEST(ZabbixRoute, EveryDestinationGetsEveryValueAndOneThatFailedIsLeftOut) {
  FakeZabbix first, second({ZabbixAnswer::success, ZabbixAnswer::garbage});
  const std::string dead = closed_address();
  const std::string list = dead + "," + first.address() + " , " + second.address();
  CapturedStderr err;
  ZabbixSender sender = sender_for(list);
  for (std::int64_t value = 1; value <= 3; ++value) send_zabbix(sender, "h", "k", value);

  ASSERT_EQ(first.items().size(), 3u);
  for (std::int64_t value = 1; value <= 3; ++value) {
    EXPECT_EQ(first.items()[value - 1]["value"], std::to_string(value));
  }
  // The second destination answered garbage to the second value: it got no third.
  EXPECT_EQ(second.items().size(), 2u);
  const std::string text = err.text();
  EXPECT_TRUE(text.starts_with("Erro: o destino Zabbix " + dead +
                               " fica de fora do resto desta execução: servidor Zabbix em " + dead +
                               ": não foi possível conectar: Connection refused"))
      << text;
  EXPECT_NE(text.find("\nErro: o destino Zabbix " + second.address() + " fica de fora"),
            std::string::npos)
      << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
  EXPECT_EQ(sender.left_out(), "2 de 3 destinos Zabbix ficaram sem parte dos valores: " + dead +
                                   ", " + second.address());
}

TEST(ZabbixRoute, ARedirectIsFollowedAndServesTheNextRequestsUntilItIsGone) {
  FakeZabbix listed({ZabbixAnswer::redirect});
  auto monitoring = std::make_unique<FakeZabbix>();
  listed.redirect_to(monitoring->address());

  ZabbixSender sender = sender_for(listed.address());
  send_zabbix(sender, "h", "k", std::int64_t{1});
  send_zabbix(sender, "h", "k", std::int64_t{2});
  EXPECT_EQ(listed.items().size(), 1u);
  ASSERT_EQ(monitoring->items().size(), 2u);
  EXPECT_EQ(monitoring->items()[1]["value"], "2");

  // The proxy went away: nothing reached it, so the listed server takes the request again.
  monitoring.reset();
  send_zabbix(sender, "h", "k", std::int64_t{3});
  ASSERT_EQ(listed.items().size(), 2u);
  EXPECT_EQ(listed.items()[1]["value"], "3");

  // A proxy that resets the redirect sends the request back to the listed server.
  FakeZabbix first({ZabbixAnswer::redirect}), proxy({ZabbixAnswer::success, ZabbixAnswer::reset});
  first.redirect_to(proxy.address());
  ZabbixSender again = sender_for(first.address());
  for (std::int64_t value = 1; value <= 3; ++value) send_zabbix(again, "h", "k", value);
  // The first value was redirected and taken by the proxy; the second, reset by the proxy, was
  // taken by the listed server, which took the third at once.
  ASSERT_EQ(first.items().size(), 3u);
  EXPECT_EQ(first.items()[1]["value"], "2");
  EXPECT_EQ(first.items()[2]["value"], "3");
  EXPECT_EQ(proxy.items().size(), 2u);
}

TEST(ZabbixRoute, ARedirectLoopOrMoreThanThreeHopsIsAFailedSendThatSaysSo) {
  FakeZabbix a({ZabbixAnswer::redirect}), b({ZabbixAnswer::redirect});
  a.redirect_to(b.address());
  b.redirect_to(a.address());
  const std::string loop = failure_of(a.address());
  EXPECT_NE(loop.find("laço de redirecionamento: " + a.address() + " -> " + b.address() + " -> " +
                      a.address()),
            std::string::npos)
      << loop;

  std::vector<std::unique_ptr<FakeZabbix>> chain;
  for (int i = 0; i < 5; ++i) {
    chain.push_back(std::make_unique<FakeZabbix>(std::vector{ZabbixAnswer::redirect}));
  }
  for (int i = 0; i + 1 < 5; ++i) chain[i]->redirect_to(chain[i + 1]->address());
  const std::string hops = failure_of(chain[0]->address());
  EXPECT_NE(hops.find("mais de 3 redirecionamentos para um só envio"), std::string::npos) << hops;
  EXPECT_EQ(chain[3]->items().size(), 1u);
  EXPECT_EQ(chain[4]->connections(), 0);
}

}  // namespace
}  // namespace sonda::test
