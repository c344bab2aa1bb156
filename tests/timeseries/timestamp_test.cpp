#include "timeseries/timestamp.hpp"

#include <chrono>

#include <gtest/gtest.h>

namespace sonda {
namespace {

TEST(GetTimestamp, MicrosecondsSinceTheEpoch) {
  EXPECT_EQ(timestamp_from(1704067200, 0), 1704067200000000);  // 2024-01-01 00:00:00 UTC
  EXPECT_EQ(timestamp_from(1704067200, 500000), 1704067200500000);
  const auto system = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  EXPECT_NEAR(static_cast<double>(get_timestamp()), static_cast<double>(system), 1e6);
}

}  // namespace
}  // namespace sonda
