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
// plays no part.
class CivilTimeZone {
 public:
  // The zone under `name` as PostgreSQL reports it ("America/Sao_Paulo", "UTC", "Etc/GMT+3",
  // "EST5EDT"); nothing when this machine does not know it.
  static std::optional<CivilTimeZone> load(std::string_view name);
  static CivilTimeZone utc();

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
