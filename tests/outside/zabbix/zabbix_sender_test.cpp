// The Zabbix sender against small in-process trappers, byte for byte, and against Debian's own
// zabbix_sender for the frame.
#include "outside/zabbix/zabbix_sender.hpp"

#include <chrono>

#include <gtest/gtest.h>

#include "outside/process/runtime_limit.hpp"
#include "support/fake_zabbix.hpp"
#include "support/process.hpp"

namespace sonda::test {
namespace {

using namespace std::chrono_literals;

std::string body_of(const std::string& frame) { return frame.substr(13); }

TEST(ZabbixSender, FrameIsHeaderLengthAndJsonWithTheValueAsAString) {
  const std::string frame = sender_data_frame("host 1", "valor_divida[7]", 150.5);
  const std::string body =
      R"({"request":"sender data","data":[{"host":"host 1","key":"valor_divida[7]",)"
      R"("value":"150.5"}]})";
  EXPECT_EQ(frame, std::string("ZBXD\x01", 5) + std::string(1, static_cast<char>(body.size())) +
                       std::string(7, '\0') + body);

  const std::pair<FieldValue, std::string> values[] = {
      {std::int64_t{42}, R"("42")"},
      {std::int64_t{-3}, R"("-3")"},
      {0.0, R"("0.0")"},
      {1e-05, R"("1e-05")"},
      {1e16, R"("1e+16")"},
      {std::string_view("Estação \"x\"\n"), R"("Estação \"x\"\n")"},
      {Absent{}, "null"},
  };
  for (const auto& [value, wire] : values) {
    EXPECT_TRUE(body_of(sender_data_frame("h", "k", value)).ends_with(",\"value\":" + wire + "}]}"))
        << wire;
  }
  EXPECT_THROW(sender_data_frame("h", "k", DateTime{0}), InternalError);
}

TEST(ZabbixSender, FrameMatchesDebiansZabbixSender) {
  FakeZabbix trapper;
  const auto result = run_process("/usr/bin/zabbix_sender",
                                  {"-z", "127.0.0.1", "-p", trapper.address().substr(10), "-s",
                                   "Mercado Estação", "-k", "valor_divida[7]", "-o", "150.5"});
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  ASSERT_EQ(trapper.frames().size(), 1u);
  EXPECT_EQ(trapper.frames()[0], sender_data_frame("Mercado Estação", "valor_divida[7]", 150.5));
}

TEST(ZabbixSender, SuccessIsTheAnswerNotItsCounts) {
  FakeZabbix trapper;
  ZabbixSender sender(zabbix_settings_for(trapper.address()));
  send_zabbix(sender, "h", "k", std::int64_t{1});
  send_zabbix(sender, "h", "k", Absent{});
  ASSERT_EQ(trapper.items().size(), 2u);
  EXPECT_EQ(trapper.items()[1]["value"], nullptr);
  EXPECT_EQ(trapper.connections(), 2);  // one connection per value
}

std::string zabbix_failure(const std::string& server) {
  try {
    ZabbixSender sender(zabbix_settings_for(server));
    send_zabbix(sender, "h", "chave", std::int64_t{1});
  } catch (const ZabbixError& error) {
    return error.what();
  }
  return "(no failure)";
}

TEST(ZabbixSender, EveryBrokenExchangeIsAFailure) {
  FakeZabbix failed({ZabbixAnswer::failed});
  EXPECT_EQ(zabbix_failure(failed.address()),
            "servidor Zabbix em " + failed.address() +
                ": o envio de chave foi recusado (failed): host is not allowed");

  FakeZabbix dropping({ZabbixAnswer::drop});
  EXPECT_EQ(zabbix_failure(dropping.address()), "servidor Zabbix em " + dropping.address() +
                                                    ": a conexão foi fechada antes da resposta");

  FakeZabbix garbage({ZabbixAnswer::garbage});
  EXPECT_EQ(zabbix_failure(garbage.address()), "servidor Zabbix em " + garbage.address() +
                                                   ": resposta inválida (sem o cabeçalho ZBXD)");

  const std::string closed = "127.0.0.1:" + std::to_string(closed_port());
  EXPECT_EQ(zabbix_failure(closed),
            "servidor Zabbix em " + closed +
                ": não foi possível conectar: Connection refused (confira o endereço do servidor: "
                "SONDA_ZABBIX_SERVER ou o ServerActive do agente)");

  EXPECT_NE(zabbix_failure("nao-existe.invalid:10051").find("não foi possível resolver"),
            std::string::npos);
}

TEST(ZabbixSender, AnswerThatNeverComesEndsAtTheRunLimit) {
  FakeZabbix silent({ZabbixAnswer::never});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(
      {
        const auto limit = runtime_limiter(1);
        ZabbixSender sender(zabbix_settings_for(silent.address()));
        send_zabbix(sender, "h", "k", std::int64_t{1});
      },
      TimeoutException);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
}

}  // namespace
}  // namespace sonda::test

// Several values in one request, compression both ways, and the server's counts.
namespace sonda::test {
namespace {

TEST(ZabbixSenderBatch, ValuesShareOneRequestInOrderAndTheCountsComeBack) {
  FakeZabbix trapper({ZabbixAnswer::success, ZabbixAnswer::refused, ZabbixAnswer::compressed});
  const std::vector<ZabbixItemValue> values = {{"a", std::int64_t{1}}, {"b", 2.5}, {"c", Absent{}}};
  ZabbixSender sender(zabbix_settings_for(trapper.address()));

  const ZabbixCounts taken = send_zabbix_values(sender, "h", values);
  EXPECT_EQ(taken.processed, 3u);
  EXPECT_EQ(taken.failed, 0u);
  const ZabbixCounts refused = send_zabbix_values(sender, "h", values);
  EXPECT_EQ(refused.processed, 0u);
  EXPECT_EQ(refused.failed, 3u);
  EXPECT_EQ(refused.total, 3u);
  // A compressed answer is read like any other.
  EXPECT_EQ(send_zabbix(sender, "h", "d", std::int64_t{4}).processed, 1u);
  EXPECT_EQ(send_zabbix_values(sender, "h", {}).total, 0u);  // nothing sent

  EXPECT_EQ(trapper.request_sizes(), (std::vector<std::size_t>{3, 3, 1}));
  const auto items = trapper.items();
  ASSERT_EQ(items.size(), 7u);
  EXPECT_EQ(items[0]["key"], "a");
  EXPECT_EQ(items[1]["value"], "2.5");
  EXPECT_EQ(items[2]["value"], nullptr);
  EXPECT_EQ(items[6]["key"], "d");
}

TEST(ZabbixSenderBatch, RequestsOverOneMebibyteTravelCompressedAndArriveWhole) {
  FakeZabbix trapper;
  std::string document = R"({"data": [)";
  for (int i = 0; document.size() < 3 * 1024 * 1024; ++i) {
    document += R"({"{#CLIENTE_ID}": )" + std::to_string(i) + R"(, "{#RAZAOSOCIAL}": "Cliente )" +
                std::to_string(i * 7919 % 100003) + R"("}, )";
  }
  document += "{}]}";
  const std::string expected = document;
  ZabbixSender sender(zabbix_settings_for(trapper.address()));
  send_zabbix(sender, "h", "discovery_clientes", std::move(document));
  send_zabbix(sender, "h", "pequeno", std::int64_t{1});

  const auto frames = trapper.frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0][4], '\x03');
  // The header carries the compressed length, then the body's own.
  const auto length_at = [&](std::size_t offset) {
    std::uint64_t value = 0;
    for (int i = 3; i >= 0; --i)
      value = value << 8 | static_cast<unsigned char>(frames[0][offset + i]);
    return value;
  };
  EXPECT_EQ(length_at(5), frames[0].size() - 13);
  EXPECT_LT(frames[0].size(), expected.size() / 3);
  EXPECT_EQ(length_at(9), zabbix_frame_body(frames[0]).size());
  EXPECT_EQ(trapper.items()[0]["value"], expected);
  EXPECT_EQ(frames[1][4], '\x01');  // small requests stay as zabbix_sender writes them
}

TEST(ZabbixSenderBatch, TimeAllowedGrowsWithTheRequest) {
  EXPECT_EQ(zabbix_call_time(100), std::chrono::seconds(31));
  EXPECT_EQ(zabbix_call_time(30 * 1024 * 1024), std::chrono::seconds(30 + 308));
}

}  // namespace
}  // namespace sonda::test
