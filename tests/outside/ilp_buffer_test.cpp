#include "outside/ilp_buffer.hpp"

#include <stdlib.h>
#include <time.h>

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "console/value_text.hpp"
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

TEST_F(IlpBufferTest, RememberedDaysAgreeWithTheZoneRuleAtEveryHour) {
  // 2018 had both of São Paulo's transitions (February 17, November 4); every hour and half hour
  // of the year, in an order that revisits days, reads as mktime reads it.
  auto reference = [](DateTime value) {
    const CivilDateTime c = to_civil(value);
    std::tm local{};
    local.tm_year = c.year - 1900;
    local.tm_mon = static_cast<int>(c.month) - 1;
    local.tm_mday = static_cast<int>(c.day);
    local.tm_hour = c.hour;
    local.tm_min = c.minute;
    local.tm_sec = c.second;
    local.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&local)) * 1'000'000 + c.microsecond;
  };
  const std::int64_t start = from_civil({2018, 1, 1, 0, 0, 0, 0}).micros;
  for (int round = 0; round < 2; ++round) {
    for (std::int64_t half_hour = 0; half_hour < 2 * 24 * 365; ++half_hour) {
      const DateTime value{start + half_hour * 1'800'000'000 + 7};
      ASSERT_EQ(local_epoch_micros(value), reference(value)) << value_text(value);
    }
  }
  const DateTime before_1970 = from_civil({1969, 12, 31, 23, 59, 59, 999999});
  EXPECT_EQ(local_epoch_micros(before_1970), reference(before_1970));
}

}  // namespace
}  // namespace sonda
