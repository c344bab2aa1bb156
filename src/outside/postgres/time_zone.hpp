#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/date_time.hpp"

// cctz's zone, so that its header stays inside this client.
namespace cctz {
class time_zone;
}

namespace sonda {

// A zone of the tz database (/usr/share/zoneinfo, or TZDIR), in which a date-time without zone
// is read as the instant it stands for there. The machine's own zone (TZ, /etc/localtime)
// plays no part, but in machine().
class CivilTimeZone {
 public:
  // The zone under `name` as PostgreSQL reports it ("America/Sao_Paulo", "UTC", "Etc/GMT+3",
  // "EST5EDT"); nothing when this machine does not know it.
  static std::optional<CivilTimeZone> load(std::string_view name);
  static CivilTimeZone utc();
  // The machine's own zone as the C library's mktime reads it: `tz` (the variable TZ) when it
  // is set (a zone name, with or without a leading ":", or an offset such as "<-03>+03"),
  // /etc/localtime when not; UTC when that cannot be read, as the C library does too.
  static CivilTimeZone machine(const std::optional<std::string>& tz);
  // Whether this machine has a tz database to read zones from (TZDIR when set, else
  // /usr/share/zoneinfo): "Etc/UTC", which every release of it holds, can be read.
  static bool database_present();

  // Microseconds since 1970-01-01 00:00:00 UTC of `value` read in this zone. A time that occurs
  // twice (the hour repeated when daylight-saving time ends) is the earlier instant; a time the
  // clocks skipped is read with the offset in force before the change. (Both as Python's
  // datetime with fold=0.)
  std::int64_t epoch_micros(DateTime value) const;

  const std::string& name() const { return name_; }

 private:
  CivilTimeZone(const cctz::time_zone& zone, std::string name);

  std::shared_ptr<const cctz::time_zone> zone_;
  std::string name_;
};

}  // namespace sonda
