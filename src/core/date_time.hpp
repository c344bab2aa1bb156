#pragma once

#include <cstdint>

namespace sonda {

// A calendar date and time of day to the microsecond, without time zone, counted as
// microseconds from 1970-01-01 00:00:00 of the same (unzoned) calendar.
struct DateTime {
  std::int64_t micros = 0;
  bool operator==(const DateTime&) const = default;
};

// The same instant-free value broken into calendar fields (proleptic Gregorian calendar).
struct CivilDateTime {
  int year = 1970;
  unsigned month = 1;  // 1..12
  unsigned day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int microsecond = 0;
};

CivilDateTime to_civil(DateTime value);
DateTime from_civil(const CivilDateTime& civil);

}  // namespace sonda
