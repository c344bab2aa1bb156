#include "outside/questdb/ilp_buffer.hpp"

#include <stdlib.h>

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "console/value_text.hpp"
#include "outside/questdb/questdb_conf.hpp"

namespace sonda {
namespace {

// The machine's zone is set to São Paulo (UTC-3) to show that it plays no part: date-times are
// written as they read in UTC, their writer having read them in the database's zone.
class IlpBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "America/Sao_Paulo", 1);
    ::tzset();
  }
  void TearDown() override {
    ::unsetenv("TZ");
    ::tzset();
  }
};

TEST_F(IlpBufferTest, FieldsFollowTheirValueKinds) {
  IlpBuffer buffer;
  const std::vector<IlpField> fields = {
      {"id", std::int64_t{-42}},
      {"valor", 150.0},
      {"pequeno", 1e-05},
      {"grande", 1e16},
      {"texto", std::string_view("Mercado \"Azul\", Ltda\\\nFilial=2 😀")},
      {"ausente", Absent{}},
      {"quando", from_civil({2024, 1, 1, 0, 0, 0, 1})},
      {"nan", std::numeric_limits<double>::quiet_NaN()},
      {"menos_inf", -std::numeric_limits<double>::infinity()},
  };
  buffer.add_row("bekCobranca", fields, {1704067200000000123});
  EXPECT_EQ(buffer.text(),
            "bekCobranca id=-42i,valor=150.0,pequeno=1e-05,grande=1e+16,"
            "texto=\"Mercado \\\"Azul\\\", Ltda\\\\\\\nFilial=2 😀\","
            "quando=1704067200000001t,nan=NaN,menos_inf=-Infinity 1704067200000000123\n");
  EXPECT_EQ(buffer.rows(), 1u);
}

TEST_F(IlpBufferTest, NamesAreEscaped) {
  IlpBuffer buffer;
  const std::vector<IlpField> fields = {{"a b,c=d\\e", std::int64_t{1}}};
  buffer.add_row("tab la,x", fields, {5});
  EXPECT_EQ(buffer.text(), "tab\\ la\\,x a\\ b\\,c\\=d\\\\e=1i 5\n");
}

TEST_F(IlpBufferTest, ARowNeedsAFieldAndATable) {
  IlpBuffer buffer;
  const std::vector<IlpField> only_absent = {{"x", Absent{}}};
  EXPECT_THROW(buffer.add_row("t", only_absent, {1}), IngressError);
  const std::vector<IlpField> one = {{"x", std::int64_t{1}}};
  EXPECT_THROW(buffer.add_row("", one, {1}), IngressError);
  EXPECT_EQ(buffer.text(), "");
  EXPECT_EQ(buffer.rows(), 0u);
}

TEST_F(IlpBufferTest, TextsThatAreNotUtf8CostCharactersNotTheRow) {
  IlpBuffer buffer;
  // Latin-1 "Estação" from a SQL_ASCII database, a cut sequence, an overlong "/", a surrogate.
  const std::vector<IlpField> fields = {
      {"nome", std::string_view("Esta\xe7\xe3o \"x\"")},
      {"cortado", std::string_view("a\xc3")},
      {"longo", std::string_view("\xc0\xaf|\xed\xa0\x80|\xf0\x9f\x98\x80")},
  };
  buffer.add_row("t", fields, {1});
  EXPECT_EQ(buffer.text(),
            "t nome=\"Esta\xEF\xBF\xBD\xEF\xBF\xBDo \\\"x\\\"\",cortado=\"a\xEF\xBF\xBD\","
            "longo=\"\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|"
            "\xF0\x9F\x98\x80\" 1\n");
}

TEST_F(IlpBufferTest, RemovedRowLeavesTheOthersWhole) {
  IlpBuffer buffer;
  for (std::int64_t id = 1; id <= 4; ++id) {
    const std::vector<IlpField> fields = {{"id", id}, {"nota", std::string_view("a\nb")}};
    buffer.add_row("t", fields, {id});
  }
  buffer.remove_row(1);
  buffer.remove_row(2);
  EXPECT_EQ(buffer.text(), "t id=1i,nota=\"a\\\nb\" 1\nt id=3i,nota=\"a\\\nb\" 3\n");
  EXPECT_EQ(buffer.rows(), 2u);
  buffer.remove_row(0);
  buffer.remove_row(0);
  EXPECT_EQ(buffer.text(), "");
  EXPECT_THROW(buffer.remove_row(0), InternalError);
}

}  // namespace
}  // namespace sonda
