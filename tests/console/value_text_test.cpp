#include "console/value_text.hpp"

#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

namespace sonda {
namespace {

TEST(RealText, ShortestRoundTripInFixedOrExponentForm) {
  const std::pair<double, std::string> cases[] = {
      {150.0, "150.0"},
      {150.5, "150.5"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {0.5, "0.5"},
      {0.1, "0.1"},
      {0.0001, "0.0001"},
      {0.00001, "1e-05"},
      {0.000015, "1.5e-05"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e+16"},
      {1.5e16, "1.5e+16"},
      {123456789012345678.0, "1.2345678901234568e+17"},
      {1e100, "1e+100"},
      {-2.5e-300, "-2.5e-300"},
      {0.1 + 0.2, "0.30000000000000004"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {std::numeric_limits<double>::denorm_min(), "5e-324"},
      {100000.0, "100000.0"},
      {-42.0, "-42.0"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(real_text(value), text) << text;
}

TEST(RealText, NonFiniteValuesPerStyle) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(real_text(inf), "inf");
  EXPECT_EQ(real_text(-inf), "-inf");
  EXPECT_EQ(real_text(nan), "nan");
  EXPECT_EQ(real_text(-nan), "nan");
  EXPECT_EQ(real_text(inf, NonFiniteStyle::json), "Infinity");
  EXPECT_EQ(real_text(-inf, NonFiniteStyle::json), "-Infinity");
  EXPECT_EQ(real_text(nan, NonFiniteStyle::json), "NaN");
}

TEST(RealText, EveryTextReadsBackToTheSameDouble) {
  std::uint64_t bits = 0x9E3779B97F4A7C15u;
  for (int i = 0; i < 100000; ++i) {
    bits ^= bits << 13;
    bits ^= bits >> 7;
    bits ^= bits << 17;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    const std::string text = real_text(value);
    ASSERT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
  }
}

TEST(ValueText, KindDecidesTheText) {
  EXPECT_EQ(value_text(std::int64_t{0}), "0");
  EXPECT_EQ(value_text(0.0), "0.0");
  EXPECT_EQ(value_text(std::int64_t{-7}), "-7");
  EXPECT_EQ(value_text(std::string_view("São João")), "São João");
  EXPECT_EQ(value_text(Absent{}), "");
  EXPECT_EQ(value_text(from_civil({2024, 1, 31, 8, 0, 0, 0})), "2024-01-31 08:00:00");
  EXPECT_EQ(value_text(from_civil({1969, 12, 31, 23, 59, 59, 1})), "1969-12-31 23:59:59.000001");
}

TEST(ValueText, CodePointsNotBytes) {
  EXPECT_EQ(code_point_count("São João"), 8u);
  EXPECT_EQ(code_point_count("\xF0\x9F\x98\x80"), 1u);  // U+1F600
  EXPECT_EQ(code_point_count(""), 0u);
}

}  // namespace
}  // namespace sonda
