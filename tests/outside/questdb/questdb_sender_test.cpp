// The QuestDB client against small in-process servers that answer what a test needs.
#include "outside/questdb/questdb_sender.hpp"

#include <chrono>
#include <vector>

#include <gtest/gtest.h>

#include "outside/process/runtime_limit.hpp"
#include "support/fake_questdb.hpp"
#include "support/fake_server.hpp"

namespace sonda::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void add_rows(QuestDbSender& sender, int count) {
  for (int i = 0; i < count; ++i) {
    const IlpField fields[] = {{"id", std::int64_t{i}}};
    sender.row("t", fields, {1000 + i});
  }
}

// Settings for a server on loopback, as the writers make them.
QuestDbConf loopback_conf(int port) {
  return questdb_conf_for(QuestDbTransport::http, "127.0.0.1", std::to_string(port), "admin",
                          "p4ss");
}

QuestDbConf with_rows_per_request(QuestDbConf conf, std::size_t rows) {
  conf.auto_flush_rows = rows;
  return conf;
}

std::string ingress_failure(QuestDbSender& sender) {
  try {
    sender.flush();
  } catch (const IngressError& error) {
    return error.what();
  }
  return "(no failure)";
}

TEST(QuestDbSender, PostsBufferedRowsOnFlushOnly) {
  ScriptedQuestDb server({{204, ""}});
  QuestDbSender sender(server.conf());
  add_rows(sender, 3);
  EXPECT_TRUE(server.seen().empty());
  sender.flush();
  sender.flush();  // nothing left: no request
  const auto seen = server.seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].head.starts_with("POST /write?precision=n HTTP/1.1\r\n"));
  EXPECT_NE(seen[0].head.find("Content-Type: text/plain; charset=utf-8"), std::string::npos);
  EXPECT_NE(seen[0].head.find("Authorization: Basic YWRtaW46cDRzcw=="), std::string::npos);
  EXPECT_EQ(seen[0].body, "t id=0i 1000\nt id=1i 1001\nt id=2i 1002\n");
}

TEST(QuestDbSender, LargeBuffersGoInSeveralRequests) {
  ScriptedQuestDb server({{204, ""}});
  QuestDbSender sender(with_rows_per_request(server.conf(), 2));
  add_rows(sender, 5);
  sender.flush();
  const auto seen = server.seen();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].body, "t id=0i 1000\nt id=1i 1001\n");
  EXPECT_EQ(seen[2].body, "t id=4i 1004\n");
}

TEST(QuestDbSender, RetriesWhatMayPassAndStopsOnWhatWillNot) {
  ScriptedQuestDb flaky({{503, "{}"}, {500, "{}"}, {204, ""}});
  QuestDbSender recovering(flaky.conf());
  add_rows(recovering, 1);
  recovering.flush();
  EXPECT_EQ(flaky.seen().size(), 3u);

  // A refusal that names no line is the whole request's: not retried, even as a 500.
  const std::string refused_body =
      R"({"code":"internal error","message":"failed to parse line protocol:errors encountered )"
      R"(on line(s):\nunexpected","errorId":"ab-1"})";
  ScriptedQuestDb refusing({{500, refused_body}});
  QuestDbSender refused(refusing.conf());
  add_rows(refused, 1);
  const std::string failure = ingress_failure(refused);
  EXPECT_EQ(failure.substr(failure.find(" recusou")),
            " recusou as linhas (HTTP 500): failed to parse line protocol:errors encountered on "
            "line(s): unexpected [id: ab-1, código: internal error]");
  EXPECT_EQ(refusing.seen().size(), 1u);
  refused.flush();  // the failed rows are not sent again
  EXPECT_EQ(refusing.seen().size(), 1u);

  ScriptedQuestDb denying({{401, "Unauthorized"}});
  QuestDbSender denied(denying.conf());
  add_rows(denied, 1);
  const std::string auth = ingress_failure(denied);
  EXPECT_NE(auth.find("recusou o usuário e a senha (HTTP 401)"), std::string::npos);
  EXPECT_EQ(auth.find("p4ss"), std::string::npos);
}

TEST(QuestDbSender, RowTheServerRefusesIsTakenOutAndTheRestSentAgain) {
  ScriptedQuestDb server({
      {500, line_refusal(2, "internal error",
                         "write error: t, errno: -1, error: invalid UTF8 in value for a")},
      {400, line_refusal(3, "invalid",
                         "\\nerror in line 3: table: t, column: id; line protocol value: "
                         "99999999999 is out bounds of column type: INT")},
      {204, ""},
  });
  QuestDbSender sender(with_rows_per_request(server.conf(), 5));
  add_rows(sender, 7);  // requests of rows 0-4 and 5-6
  sender.flush();
  const auto seen = server.seen();
  ASSERT_EQ(seen.size(), 4u);  // refusals are not retried as passing failures
  EXPECT_EQ(seen[1].body, "t id=0i 1000\nt id=2i 1002\nt id=3i 1003\nt id=4i 1004\n");
  EXPECT_EQ(seen[2].body, "t id=0i 1000\nt id=2i 1002\nt id=4i 1004\n");
  EXPECT_EQ(seen[3].body, "t id=5i 1005\nt id=6i 1006\n");
  EXPECT_EQ(sender.rows_written(), 5u);
  ASSERT_EQ(sender.rejected_rows().size(), 2u);
  EXPECT_EQ(sender.rejected_rows()[0].row, 1u);
  EXPECT_EQ(sender.rejected_rows()[0].reason, "invalid UTF8 in value for a");
  EXPECT_EQ(sender.rejected_rows()[1].row, 3u);
  EXPECT_EQ(sender.rejected_rows()[1].reason,
            "table: t, column: id; line protocol value: 99999999999 is out bounds of column type: "
            "INT");
}

TEST(QuestDbSender, RefusedRowsAreBoundedThenTheRequestFails) {
  // Every first row refused, each for a reason of its own: after the bound, the request fails
  // as a whole.
  std::vector<std::pair<int, std::string>> answers;
  for (std::size_t i = 0; i <= QuestDbSender::kMaxRejectedRows; ++i) {
    answers.push_back(
        {400, line_refusal(1, "invalid", "\\nerror in line 1: bad " + std::to_string(i))});
  }
  ScriptedQuestDb server(answers);
  QuestDbSender sender(server.conf());
  add_rows(sender, QuestDbSender::kMaxRejectedRows + 5);
  const std::string failure = ingress_failure(sender);
  EXPECT_NE(failure.find("recusou as linhas (HTTP 400)"), std::string::npos) << failure;
  EXPECT_NE(failure.find("linha: 1]"), std::string::npos) << failure;
  EXPECT_EQ(server.seen().size(), QuestDbSender::kMaxRejectedRows + 1);
  EXPECT_EQ(sender.rejected_rows().size(), QuestDbSender::kMaxRejectedRows);
  EXPECT_EQ(sender.rows_written(), 0u);

  // A line beyond the request is no row of it.
  ScriptedQuestDb confused({{400, line_refusal(9, "invalid", "\\nerror in line 9: bad")}});
  QuestDbSender other(confused.conf());
  add_rows(other, 2);
  EXPECT_NE(ingress_failure(other).find("linha: 9]"), std::string::npos);
  EXPECT_TRUE(other.rejected_rows().empty());
}

// Adds `count` rows and flushes; the failure of the request that failed, if one did.
std::string add_rows_then_flush(QuestDbSender& sender, int count) {
  try {
    add_rows(sender, count);
    sender.flush();
  } catch (const IngressError& error) {
    return error.what();
  }
  return "(no failure)";
}

TEST(QuestDbSender, RefusalThatEveryRowSharesCostsOneRequestTwoAtMost) {
  // QuestDB 9's own words when the table or a column is at fault, whichever row it names.
  const std::string table_reasons[] = {
      "\\nerror in line 1: table: t; table does not exist, creating new tables is disabled",
      "\\nerror in line 2: table: t, column: nova does not exist, creating new columns is "
      "disabled",
      "\\nerror in line 1: table: t, column: id; cast error from protocol type: LONG to column "
      "type: VARCHAR",
  };
  for (const std::string& reason : table_reasons) {
    SCOPED_TRACE(reason);
    const int line = reason.find("line 2") != std::string::npos ? 2 : 1;
    ScriptedQuestDb server({{400, line_refusal(line, "invalid", reason)}, {204, ""}});
    QuestDbSender sender(with_rows_per_request(server.conf(), 2));
    const std::string failure = add_rows_then_flush(sender, 6);
    EXPECT_NE(failure.find("recusou as linhas (HTTP 400)"), std::string::npos) << failure;
    EXPECT_EQ(server.seen().size(), 1u);  // not re-sent, and no request after it
    EXPECT_TRUE(sender.rejected_rows().empty());
    EXPECT_EQ(sender.rows_written(), 0u);
  }

  // Words not known here, refused again at the top once the first row is out: the second
  // request ends it, and the first row is not blamed alone.
  ScriptedQuestDb server({{500, line_refusal(1, "internal error",
                                             "write error: t, errno: 28, "
                                             "error: disco cheio")}});
  QuestDbSender sender(server.conf());
  add_rows(sender, 50);
  EXPECT_NE(ingress_failure(sender).find("disco cheio"), std::string::npos);
  EXPECT_EQ(server.seen().size(), 2u);
  EXPECT_TRUE(sender.rejected_rows().empty());
}

TEST(QuestDbSender, GivesUpAfterTheRetryTimeout) {
  QuestDbConf conf = loopback_conf(closed_port());
  conf.retry_timeout = 300ms;
  QuestDbSender sender(conf);
  add_rows(sender, 1);
  const auto start = Clock::now();
  const std::string failure = ingress_failure(sender);
  EXPECT_NE(failure.find("não foi possível enviar ao QuestDB em 127.0.0.1:"), std::string::npos)
      << failure;
  EXPECT_GE(Clock::now() - start, 100ms);  // pauses of 10, 20, 40 and 80 ms
  EXPECT_LT(Clock::now() - start, 1s);
}

TEST(QuestDbSender, ServerThatNeverAnswersHitsTheRequestTimeoutOrTheRunLimit) {
  FakeServer silent(hold_silently);
  QuestDbConf conf = loopback_conf(silent.port());
  QuestDbSender limited(conf);
  conf.request_timeout = 300ms;
  conf.retry_timeout = 0ms;
  QuestDbSender timed(conf);
  add_rows(timed, 1);
  EXPECT_NE(ingress_failure(timed).find("Operation timed out"), std::string::npos);

  add_rows(limited, 1);
  const auto start = Clock::now();
  EXPECT_THROW(
      {
        const auto limit = runtime_limiter(1);
        limited.flush();
      },
      TimeoutException);
  EXPECT_LT(Clock::now() - start, 1500ms);
}

}  // namespace
}  // namespace sonda::test
