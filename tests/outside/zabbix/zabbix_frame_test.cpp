// Frames on their own: what is compressed, how answers are recognised, and the counts read from
// an answer.
#include "outside/zabbix/zabbix_frame.hpp"

#include <gtest/gtest.h>

#include "core/failure.hpp"
#include "outside/zabbix/zabbix_reply.hpp"
#include "outside/zabbix/zabbix_request.hpp"
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

// A text request written in pieces is framed exactly as its whole body is, on either side of
// the compression threshold.
TEST(ZabbixFrame, TextWrittenInPiecesIsFramedAsTheWholeBodyOnBothSidesOfTheThreshold) {
  const std::size_t around = sender_data_body("h", "k", std::string()).size();
  for (const std::size_t body_size : {kZabbixCompressFrom, kZabbixCompressFrom + 1}) {
    const std::string text(body_size - around - 2, 'a');
    const std::string quoted = text + "\"";  // escaped as two bytes: the body's size exactly
    SenderTextRequest request("h", "k");
    request.append(std::string_view(quoted).substr(0, 1000));
    request.append(std::string_view(quoted).substr(1000));
    const ZabbixFrame pieces = request.finish();
    const ZabbixFrame whole = frame_request(sender_data_body("h", "k", std::string(quoted)));
    EXPECT_EQ(pieces.header, whole.header) << body_size;
    EXPECT_TRUE(pieces.payload == whole.payload) << body_size;
    EXPECT_EQ(pieces.header[4], body_size > kZabbixCompressFrom ? '\x03' : '\x01');
  }
  SenderTextRequest request("h", "k");
  EXPECT_THROW(request.append("Estação"), InternalError);
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
                         R"(seconds spent: 0.003"})",
                         1000);
  ASSERT_TRUE(reply && reply->counts);
  EXPECT_EQ(reply->response, "success");
  EXPECT_EQ(reply->counts->processed, 998u);
  EXPECT_EQ(reply->counts->failed, 2u);
  EXPECT_EQ(reply->counts->total, 1000u);
  EXPECT_EQ(reply->counts->unconfirmed, 0u);

  EXPECT_FALSE(parse_zabbix_reply(R"({"response":"success"})", 1)->counts);
  EXPECT_FALSE(parse_zabbix_reply(R"({"response":"failed","info":"x"})", 1)->counts);
  EXPECT_FALSE(parse_zabbix_reply("[1]", 1));
  EXPECT_FALSE(parse_zabbix_reply("não é json", 1));
}

// The counts of a request of `sent` values, as read from `info`.
ZabbixCounts counts_of(const std::string& info, std::uint64_t sent) {
  const auto reply = parse_zabbix_reply(R"({"response":"success","info":")" + info + R"("})", sent);
  return reply && reply->counts ? *reply->counts : ZabbixCounts{9, 9, 9, 9};
}

TEST(ZabbixReply, CountsThatDoNotAddUpToWhatWasSentAreReadAsALoss) {
  // Nothing counted for 5 values: all 5 unconfirmed, none kept.
  ZabbixCounts zero = counts_of("processed: 0; failed: 0; total: 0; seconds spent: 0.000010", 5);
  EXPECT_EQ(zero.processed, 0u);
  EXPECT_EQ(zero.failed, 5u);
  EXPECT_EQ(zero.total, 5u);
  EXPECT_EQ(zero.unconfirmed, 5u);

  // A total short of what was sent: the missing ones are unconfirmed.
  ZabbixCounts short_total = counts_of("processed: 2; failed: 1; total: 3", 5);
  EXPECT_EQ(short_total.processed, 2u);
  EXPECT_EQ(short_total.failed, 3u);
  EXPECT_EQ(short_total.unconfirmed, 2u);

  // Numbers past what was sent, even past 64 bits, count no more than what was sent, so sums of
  // many answers cannot wrap.
  ZabbixCounts sum;
  for (const char* failed : {"18446744073709551615", "99999999999999999999999"}) {
    const ZabbixCounts huge =
        counts_of(std::string("processed: 0; failed: ") + failed + "; total: 1", 2);
    EXPECT_EQ(huge.failed, 2u) << failed;
    EXPECT_EQ(huge.unconfirmed, 0u) << failed;
    sum += huge;
  }
  EXPECT_EQ(sum.failed, 4u);
  EXPECT_EQ(counts_of("processed: 18446744073709551615; failed: 0; total: 7", 3).processed, 3u);

  // Counts that contradict each other: the loss is told rather than hidden.
  ZabbixCounts both = counts_of("processed: 1; failed: 1; total: 1", 1);
  EXPECT_EQ(both.processed, 0u);
  EXPECT_EQ(both.failed, 1u);
  EXPECT_EQ(counts_of("processed: 4; failed: 0; total: 2", 4).failed, 2u);
}

}  // namespace
}  // namespace sonda::test
