// Date-times read in a named zone, whatever this machine's own zone is.
#include "outside/postgres/time_zone.hpp"

#include <stdlib.h>
#include <time.h>

#include <gtest/gtest.h>

#include "support/values.hpp"

namespace sonda {
namespace {

using test::at;

constexpr std::int64_t kSecond = 1'000'000;

// Each test runs under both machine zones: they must not change a single result.
class TimeZoneTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ::setenv("TZ", GetParam(), 1);
    ::tzset();
  }
  void TearDown() override {
    ::unsetenv("TZ");
    ::tzset();
  }

  static CivilTimeZone zone(const char* name) {
    const auto loaded = CivilTimeZone::load(name);
    if (!loaded) throw std::runtime_error(std::string("zone not found: ") + name);
    return *loaded;
  }
};

TEST_P(TimeZoneTest, NewYorkTransitionsReadAsWithFoldZero) {
  const CivilTimeZone new_york = zone("America/New_York");
  const DateTime repeated = at(2018, 11, 4, 1, 30);  // 01:30 EDT and again 01:30 EST
  // The earlier instant, 05:30 UTC, whatever was read before: a summer row, a winter row.
  EXPECT_EQ(new_york.epoch_micros(at(2018, 7, 1, 12)), 1530460800 * kSecond);
  EXPECT_EQ(new_york.epoch_micros(repeated), 1541309400 * kSecond);
  EXPECT_EQ(new_york.epoch_micros(at(2018, 1, 15, 12)), 1516035600 * kSecond);
  EXPECT_EQ(new_york.epoch_micros(repeated), 1541309400 * kSecond);
  // Skipped (02:00 became 03:00): read with the offset before the change, EST: 07:30 UTC.
  EXPECT_EQ(new_york.epoch_micros(at(2018, 3, 11, 2, 30)), 1520753400 * kSecond);
  // The first second after each change.
  EXPECT_EQ(new_york.epoch_micros(at(2018, 3, 11, 3, 0)), 1520751600 * kSecond);
  EXPECT_EQ(new_york.epoch_micros(at(2018, 11, 4, 2, 0)), 1541314800 * kSecond);
}

TEST_P(TimeZoneTest, SaoPauloTransitionsOf2018) {
  const CivilTimeZone sao_paulo = zone("America/Sao_Paulo");
  // Daylight-saving time ended at midnight of February 18: 23:00-23:59 of the 17th came twice.
  EXPECT_EQ(sao_paulo.epoch_micros(at(2018, 2, 17, 23, 30)), 1518917400 * kSecond);
  EXPECT_EQ(sao_paulo.epoch_micros(at(2018, 2, 18, 0, 30)), 1518924600 * kSecond);
  // It began at midnight of November 4: 00:00-00:59 never happened, read as UTC-3.
  EXPECT_EQ(sao_paulo.epoch_micros(at(2018, 11, 4, 0, 30)), 1541302200 * kSecond);
  EXPECT_EQ(sao_paulo.epoch_micros(at(2018, 11, 4, 1, 0)), 1541300400 * kSecond);
  // 2018-12-01 on daylight-saving time (UTC-2); 2024 without it (UTC-3).
  EXPECT_EQ(sao_paulo.epoch_micros(at(2018, 12, 1, 12)), 1543672800 * kSecond);
  EXPECT_EQ(sao_paulo.epoch_micros(at(2024, 6, 1, 12)), 1717254000 * kSecond);
  // Microseconds survive, before 1970 too (1900 São Paulo kept local mean time, -3:06:28).
  EXPECT_EQ(sao_paulo.epoch_micros(at(1969, 12, 31, 20, 59, 59, 999999)), -1);
  EXPECT_EQ(sao_paulo.epoch_micros(at(1900, 1, 1)), -2208977612 * kSecond);
}

TEST_P(TimeZoneTest, AgreesWithTheCLibraryWhereTimesAreUnambiguous) {
  // Every half hour of 2018 in São Paulo, against mktime in that zone, but for the two hours
  // that the C library leaves to chance (the repeated and the skipped one).
  const CivilTimeZone sao_paulo = zone("America/Sao_Paulo");
  ::setenv("TZ", "America/Sao_Paulo", 1);
  ::tzset();
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
    return static_cast<std::int64_t>(std::mktime(&local)) * kSecond + c.microsecond;
  };
  const std::int64_t start = at(2018, 1, 1).micros;
  for (std::int64_t half_hour = 0; half_hour < 2 * 24 * 365; ++half_hour) {
    const DateTime value{start + half_hour * 1'800 * kSecond + 7};
    const CivilDateTime civil = to_civil(value);
    const bool repeated = civil.month == 2 && civil.day == 17 && civil.hour == 23;
    const bool skipped = civil.month == 11 && civil.day == 4 && civil.hour == 0;
    if (repeated || skipped) continue;
    ASSERT_EQ(sao_paulo.epoch_micros(value), reference(value)) << value_text(value);
  }
}

TEST_P(TimeZoneTest, NamesPostgresReportsAndNamesNobodyKnows) {
  EXPECT_EQ(zone("UTC").epoch_micros(at(2024, 1, 1)), 1704067200 * kSecond);
  EXPECT_EQ(zone("Etc/UTC").epoch_micros(at(2024, 1, 1)), 1704067200 * kSecond);
  // POSIX sign: Etc/GMT+3 is three hours behind UTC.
  EXPECT_EQ(zone("Etc/GMT+3").epoch_micros(at(2024, 1, 1)), 1704078000 * kSecond);
  EXPECT_EQ(CivilTimeZone::utc().epoch_micros(at(2024, 1, 1, 0, 0, 0, 5)),
            1704067200 * kSecond + 5);
  // Zones set as offsets, as PostgreSQL reports them (POSIX signs: UTC-3 lies east).
  EXPECT_EQ(zone("<-03>+03").epoch_micros(at(2024, 1, 1)), 1704078000 * kSecond);
  EXPECT_EQ(zone("<-03:30>+03:30").epoch_micros(at(2024, 1, 1)), 1704079800 * kSecond);
  EXPECT_EQ(zone("<+0545>-05:45").epoch_micros(at(2024, 1, 1)), 1704046500 * kSecond);
  EXPECT_EQ(zone("BRT3").epoch_micros(at(2024, 1, 1)), 1704078000 * kSecond);
  EXPECT_EQ(zone("UTC-3").epoch_micros(at(2024, 1, 1)), 1704056400 * kSecond);
  EXPECT_FALSE(CivilTimeZone::load("America/Atlantida"));
  EXPECT_FALSE(CivilTimeZone::load(""));
  // A rule of its own, or a broken name: no guess.
  EXPECT_FALSE(CivilTimeZone::load("BRT3BRST,M10.3.0/0,M2.3.0/0"));
  EXPECT_FALSE(CivilTimeZone::load("<-03+03"));
  EXPECT_FALSE(CivilTimeZone::load("<-03>+3:"));
  EXPECT_FALSE(CivilTimeZone::load("X3"));
}

INSTANTIATE_TEST_SUITE_P(MachineZones, TimeZoneTest, ::testing::Values("UTC", "America/New_York"));

}  // namespace
}  // namespace sonda
