#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "outside/postgres/time_zone.hpp"

namespace sonda {

// This machine's own zone settings, as the C library and the tz database read them: the
// variables TZ and TZDIR, when set.
struct MachineZone {
  std::optional<std::string> tz;
  std::optional<std::string> tzdir;
};

// The zone in which the snapshot rows' date-times are read: the database session's
// (`database_zone`, its TimeZone) when this machine knows it. When it does not (no tz database
// here, TZDIR pointing elsewhere, a zone newer than this machine's tzdata), the machine's own
// zone (`machine`), as the probe read every date-time before it read them in the database's:
// each row is still written, and one line on standard error says in which zone and how to mend
// it.
CivilTimeZone snapshot_time_zone(std::string_view database_zone, const MachineZone& machine);

// That line, for a `database_zone` this machine cannot read, whose date-times are read in
// `machine_zone` (its name as told) instead; `tzdir` is where the tz database was looked for.
std::string unknown_zone_line(std::string_view database_zone, std::string_view machine_zone,
                              const std::optional<std::string>& tzdir);

}  // namespace sonda
