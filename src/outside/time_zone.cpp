#include "outside/time_zone.hpp"

#include <cctz/civil_time.h>

namespace sonda {

namespace {
constexpr std::int64_t kMicrosPerSecond = 1'000'000;
}

std::optional<CivilTimeZone> CivilTimeZone::load(std::string_view name) {
  // cctz reads an empty or unknown name as UTC and says so only by its result: an empty name is
  // refused here, an unknown one by load_time_zone.
  if (name.empty()) return std::nullopt;
  cctz::time_zone zone;
  if (!cctz::load_time_zone(std::string(name), &zone)) return std::nullopt;
  return CivilTimeZone(zone, std::string(name));
}

CivilTimeZone CivilTimeZone::utc() { return CivilTimeZone(cctz::utc_time_zone(), "UTC"); }

std::int64_t CivilTimeZone::epoch_micros(DateTime value) const {
  // Floor division: a date-time before 1970 keeps its microseconds positive.
  std::int64_t seconds = value.micros / kMicrosPerSecond;
  std::int64_t fraction = value.micros % kMicrosPerSecond;
  if (fraction < 0) {
    fraction += kMicrosPerSecond;
    --seconds;
  }
  // civil_second normalises the seconds past the epoch into a calendar date and time.
  const cctz::civil_second civil(1970, 1, 1, 0, 0, seconds);
  // `pre` is the instant with the offset before a transition: the earlier one of a repeated
  // time, and the old offset for a skipped one; for any other time all three are equal.
  const auto instant = zone_.lookup(civil).pre;
  return static_cast<std::int64_t>(instant.time_since_epoch().count()) * kMicrosPerSecond +
         fraction;
}

}  // namespace sonda
