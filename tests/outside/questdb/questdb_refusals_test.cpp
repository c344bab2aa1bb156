// The QuestDB client against the real QuestDB 9 of the tests, on a table of the test's own: its
// own words tell a refusal that every row shares from one that is a single row's.
#include <unistd.h>

#include <gtest/gtest.h>

#include "outside/questdb/questdb_sender.hpp"
#include "support/questdb.hpp"

namespace sonda::test {
namespace {

class QuestDbRefusals : public ::testing::Test {
 protected:
  void SetUp() override {
    questdb_query("CREATE TABLE " + table_ +
                  " (a INT, ts TIMESTAMP) TIMESTAMP(ts) PARTITION BY DAY WAL");
  }
  void TearDown() override { questdb_query("DROP TABLE IF EXISTS " + table_); }

  QuestDbSender sender() const {
    const TestQuestDb& server = questdb_server();
    return QuestDbSender(questdb_conf_for(QuestDbTransport::http, server.host, server.port,
                                          server.user, server.password));
  }
  void row(QuestDbSender& into, std::string_view column, FieldValue value) {
    const IlpField fields[] = {{column, std::move(value)}};
    into.row(table_, fields, {1'700'000'000'000'000'000 + rows_++});
  }

  const std::string table_ = "sonda_recusas_" + std::to_string(::getpid());
  std::int64_t rows_ = 0;
};

TEST_F(QuestDbRefusals, AColumnOfAnotherTypeFailsTheRequestAValueOutOfRangeOnlyItsRow) {
  // Texts for the INT column, after a first row without it: the server names line 2, then
  // would name it again for each row, had the client taken them out one by one.
  QuestDbSender typed = sender();
  row(typed, "outra", std::int64_t{0});
  for (const char* text : {"x", "y", "z"}) row(typed, "a", std::string_view(text));
  try {
    typed.flush();
    ADD_FAILURE() << "the server took texts for an INT column";
  } catch (const IngressError& error) {
    EXPECT_NE(std::string(error.what())
                  .find("cast error from protocol type: STRING to column "
                        "type: INT"),
              std::string::npos)
        << error.what();
  }
  EXPECT_TRUE(typed.rejected_rows().empty());
  EXPECT_EQ(typed.rows_written(), 0u);

  // A number beyond INT is that row's fault: the row goes, the others are written.
  QuestDbSender ranged = sender();
  for (std::int64_t value : {std::int64_t{1}, std::int64_t{99'999'999'999}, std::int64_t{3}}) {
    row(ranged, "a", value);
  }
  ranged.flush();
  ASSERT_EQ(ranged.rejected_rows().size(), 1u);
  EXPECT_EQ(ranged.rejected_rows()[0].row, 1u);
  EXPECT_NE(ranged.rejected_rows()[0].reason.find("is out bounds of column type: INT"),
            std::string::npos);
  EXPECT_EQ(ranged.rows_written(), 2u);
}

}  // namespace
}  // namespace sonda::test
