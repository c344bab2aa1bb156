// Frames on their own: what is compressed, how answers are recognised, and the counts read from
// an answer.
#include "outside/zabbix/zabbix_frame.hpp"

#include <gtest/gtest.h>

#include "outside/zabbix/zabbix_reply.hpp"
#include "support/fake_zabbix.hpp"

namespace sonda::test {
namespace {

TEST(ZabbixFrame, CompressedOnlyPastOneMebibyteAndReadBackWhole) {
  const std::string small(kZabbixCompressFrom, 'x');
  ZabbixFrame plain = frame_request(std::string(small));
  EXPECT_EQ(plain.header, std::string("ZBXD\x01\x00\x00\x10\x00\x00\x00\x00\x00", 13));
  EXPECT_EQ(plain.payload, small);

  const std::string large = small + "y";
  ZabbixFrame packed = frame_request(std::string(large));
  EXPECT_EQ(packed.header.substr(0, 5), "ZBXD\x03");
  EXPECT_EQ(packed.header.substr(9), std::string("\x01\x00\x10\x00", 4));
  EXPECT_LT(packed.payload.size(), 10'000u);
  // The answer side reads what the request side wrote, as the server does.
  const std::string frame = packed.header + packed.payload;
  EXPECT_EQ(answer_frame_size(frame), frame.size());
  EXPECT_EQ(zabbix_frame_body(frame), large);
}

TEST(ZabbixFrame, AnswersAreRecognisedAsTheyArriveAndDamageIsRefused) {
  const std::string answer = zabbix_frame(R"({"response":"success"})");
  EXPECT_EQ(answer_frame_size(answer.substr(0, 2)), std::nullopt);  // too early to tell
  EXPECT_EQ(answer_frame_size(answer.substr(0, 12)), std::nullopt);
  EXPECT_EQ(answer_frame_size(answer), answer.size());
  EXPECT_EQ(answer_payload(answer), R"({"response":"success"})");

  EXPECT_THROW(answer_frame_size("HT"), ZabbixFrameError);
  EXPECT_THROW(answer_frame_size(std::string("ZBXD\x08", 5)), ZabbixFrameError);
  EXPECT_THROW(answer_frame_size(std::string("ZBXD\x01\xff\xff\xff\x7f\0\0\0\0", 13)),
               ZabbixFrameError);
  std::string damaged = std::string("ZBXD\x03\x04\0\0\0\x10\0\0\0", 13) + "abcd";
  EXPECT_THROW(answer_payload(damaged), ZabbixFrameError);
}

TEST(ZabbixReply, CountsComeFromTheInfoText) {
  const auto reply =
      parse_zabbix_reply(R"({"response":"success","info":"processed: 998; failed: 2; total: 1000; )"
                         R"(seconds spent: 0.003"})");
  ASSERT_TRUE(reply && reply->counts);
  EXPECT_EQ(reply->response, "success");
  EXPECT_EQ(reply->counts->processed, 998u);
  EXPECT_EQ(reply->counts->failed, 2u);
  EXPECT_EQ(reply->counts->total, 1000u);

  EXPECT_FALSE(parse_zabbix_reply(R"({"response":"success"})")->counts);
  EXPECT_FALSE(parse_zabbix_reply(R"({"response":"failed","info":"x"})")->counts);
  EXPECT_FALSE(parse_zabbix_reply("[1]"));
  EXPECT_FALSE(parse_zabbix_reply("não é json"));
}

}  // namespace
}  // namespace sonda::test
