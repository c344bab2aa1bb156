#include "outside/ilp_buffer.hpp"

#include <stdlib.h>
#include <time.h>

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "outside/questdb_conf.hpp"

namespace sonda {
namespace {

// Date-times are read in the local time zone: São Paulo is three hours behind UTC, without
// daylight saving time since 2019.
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
            "quando=1704078000000001t,nan=NaN,menos_inf=-Infinity 1704067200000000123\n");
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

TEST_F(IlpBufferTest, LocalTimeFollowsTheZoneRuleOfThatDate) {
  // 2018-12-01: São Paulo was on daylight saving time (UTC-2).
  EXPECT_EQ(local_epoch_micros(from_civil({2018, 12, 1, 12, 0, 0, 0})), 1543672800000000);
  EXPECT_EQ(local_epoch_micros(from_civil({2024, 6, 1, 12, 0, 0, 0})), 1717254000000000);
}

}  // namespace
}  // namespace sonda
