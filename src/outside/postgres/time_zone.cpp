#include "outside/postgres/time_zone.hpp"

#include <cctz/civil_time.h>
#include <cctz/time_zone.h>

namespace sonda {

namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;

// Reads the digits at text[i] (at most `most` of them, at least one) and advances i.
std::optional<int> number_at(std::string_view text, std::size_t& i, std::size_t most) {
  int value = 0;
  std::size_t count = 0;
  while (i < text.size() && count < most && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (text[i++] - '0');
    ++count;
  }
  if (count == 0) return std::nullopt;
  return value;
}

// The offset from UTC of a POSIX zone without daylight-saving rule, which PostgreSQL reports for
// a zone set as an offset: "<-03>+03" (SET TIME ZONE -3), "<-03:30>+03:30", "BRT3", "UTC-3". As
// in POSIX, a positive number lies west of Greenwich: "<-03>+03" is UTC-3.
std::optional<cctz::seconds> posix_fixed_offset(std::string_view name) {
  std::size_t i = 0;
  if (name.starts_with('<')) {
    i = name.find('>');
    if (i == std::string_view::npos || i < 2) return std::nullopt;
    ++i;
  } else {
    while (i < name.size() &&
           ((name[i] >= 'A' && name[i] <= 'Z') || (name[i] >= 'a' && name[i] <= 'z'))) {
      ++i;
    }
    if (i < 3) return std::nullopt;
  }
  int sign = 1;
  if (i < name.size() && (name[i] == '+' || name[i] == '-')) sign = name[i++] == '-' ? -1 : 1;
  const auto hours = number_at(name, i, 2);
  if (!hours || *hours > 24) return std::nullopt;
  int seconds = *hours * 3600;
  for (int unit : {60, 1}) {
    if (i >= name.size() || name[i] != ':') break;
    ++i;
    const auto part = number_at(name, i, 2);
    if (!part || *part > 59) return std::nullopt;
    seconds += *part * unit;
  }
  if (i != name.size()) return std::nullopt;  // a daylight-saving rule follows: not fixed
  return cctz::seconds(-sign * seconds);
}

}  // namespace

CivilTimeZone::CivilTimeZone(const cctz::time_zone& zone, std::string name)
    : zone_(std::make_shared<const cctz::time_zone>(zone)), name_(std::move(name)) {}

std::optional<CivilTimeZone> CivilTimeZone::load(std::string_view name) {
  // cctz reads an empty or unknown name as UTC and says so only by its result: an empty name is
  // refused here, an unknown one by load_time_zone.
  if (name.empty()) return std::nullopt;
  cctz::time_zone zone;
  if (cctz::load_time_zone(std::string(name), &zone)) return CivilTimeZone(zone, std::string(name));
  if (const auto offset = posix_fixed_offset(name)) {
    return CivilTimeZone(cctz::fixed_time_zone(*offset), std::string(name));
  }
  return std::nullopt;
}

CivilTimeZone CivilTimeZone::utc() { return CivilTimeZone(cctz::utc_time_zone(), "UTC"); }

CivilTimeZone CivilTimeZone::machine(const std::optional<std::string>& tz) {
  if (tz) {
    std::string_view name(*tz);
    if (name.starts_with(':')) name.remove_prefix(1);
    // A TZ the C library cannot read either (empty, or a zone missing here) is UTC there too.
    return load(name).value_or(utc());
  }
  constexpr const char* kLocalTime = "/etc/localtime";
  cctz::time_zone zone;
  if (cctz::load_time_zone(kLocalTime, &zone)) return CivilTimeZone(zone, kLocalTime);
  return utc();
}

bool CivilTimeZone::database_present() {
  cctz::time_zone zone;
  return cctz::load_time_zone("Etc/UTC", &zone);
}

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
  const auto instant = zone_->lookup(civil).pre;
  return static_cast<std::int64_t>(instant.time_since_epoch().count()) * kMicrosPerSecond +
         fraction;
}

}  // namespace sonda
