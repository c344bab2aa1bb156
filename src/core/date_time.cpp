#include "core/date_time.hpp"

#include <chrono>

namespace sonda {

namespace {
constexpr std::int64_t kMicrosPerDay = 86'400'000'000;
}

CivilDateTime to_civil(DateTime value) {
  using namespace std::chrono;
  // Floor division, so that instants before 1970 fall on the right day.
  std::int64_t days = value.micros / kMicrosPerDay;
  std::int64_t rest = value.micros % kMicrosPerDay;
  if (rest < 0) {
    rest += kMicrosPerDay;
    --days;
  }
  const year_month_day date{sys_days{std::chrono::days{days}}};
  CivilDateTime civil;
  civil.year = static_cast<int>(date.year());
  civil.month = static_cast<unsigned>(date.month());
  civil.day = static_cast<unsigned>(date.day());
  civil.microsecond = static_cast<int>(rest % 1'000'000);
  const std::int64_t seconds = rest / 1'000'000;
  civil.second = static_cast<int>(seconds % 60);
  civil.minute = static_cast<int>(seconds / 60 % 60);
  civil.hour = static_cast<int>(seconds / 3600);
  return civil;
}

DateTime from_civil(const CivilDateTime& civil) {
  using namespace std::chrono;
  const sys_days date{year{civil.year} / month{civil.month} / day{civil.day}};
  const std::int64_t days = date.time_since_epoch().count();
  const std::int64_t seconds = (civil.hour * 60 + civil.minute) * 60 + civil.second;
  return DateTime{days * kMicrosPerDay + seconds * 1'000'000 + civil.microsecond};
}

}  // namespace sonda
